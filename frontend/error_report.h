// The one-line run-time error report printed when a run stops.
#ifndef TESSERA_FRONTEND_ERROR_REPORT_H_
#define TESSERA_FRONTEND_ERROR_REPORT_H_

#include <cstddef>
#include <cstdint>

constexpr size_t kReportLength = 29;

// "Runtime error     at 00000000" with the code's decimal digits written
// backwards from character 17 (so up to four digits stand right-aligned
// after "error", longer codes run over its letters) and the address's
// upper-case hexadecimal digits backwards from character 29.
void FormatReport(uint32_t code, uint32_t address, char line[kReportLength]);

#endif  // TESSERA_FRONTEND_ERROR_REPORT_H_
