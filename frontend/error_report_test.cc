#include "frontend/error_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Report(uint32_t code, uint32_t address) {
  char line[kReportLength];
  FormatReport(code, address, line);
  return std::string(line, sizeof line);
}

TEST(FormatReport, CodesStandRightAlignedAndLongOnesRunOverTheText) {
  EXPECT_EQ(Report(0, 0), "Runtime error   0 at 00000000");
  EXPECT_EQ(Report(7, 0), "Runtime error   7 at 00000000");
  EXPECT_EQ(Report(42, 0), "Runtime error  42 at 00000000");
  EXPECT_EQ(Report(100, 0), "Runtime error 100 at 00000000");
  EXPECT_EQ(Report(9999, 0), "Runtime error9999 at 00000000");
  EXPECT_EQ(Report(12345, 0), "Runtime erro12345 at 00000000");
  EXPECT_EQ(Report(4294967295u, 0), "Runtime4294967295 at 00000000");
}

TEST(FormatReport, AddressesAreEightUpperCaseHexDigits) {
  EXPECT_EQ(Report(2, 0x1A2B), "Runtime error   2 at 00001A2B");
  EXPECT_EQ(Report(2, 0xFEDCBA98), "Runtime error   2 at FEDCBA98");
}

}  // namespace
