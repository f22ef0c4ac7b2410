#include "frontend/error_report.h"

#include <cstring>

void FormatReport(uint32_t code, uint32_t address, char line[kReportLength]) {
  std::memcpy(line, "Runtime error     at 00000000", kReportLength);
  char* digit = line + 16;  // character 17
  do {
    *digit-- = static_cast<char>('0' + code % 10);
    code /= 10;
  } while (code != 0);
  digit = line + 28;  // character 29
  do {
    *digit-- = "0123456789ABCDEF"[address & 15];
    address >>= 4;
  } while (address != 0);
}
