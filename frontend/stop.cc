#include "frontend/stop.h"

#include <string_view>

#include "frontend/error_report.h"
#include "frontend/output.h"
#include "platform/platform.h"

// Never inlined: the return address must be the call site's own.
__attribute__((noinline)) void StopWithCode(uint32_t code, int /*site*/) {
  const void* failure_point = __builtin_return_address(0);
  CleanUpForStop();
  char line[kReportLength];
  FormatReport(code, static_cast<uint32_t>(ImageOffset(failure_point)), line);
  WriteLine(std::string_view(line, sizeof line));  // a report that can't be written is lost, nothing more
  FlushOutput();
  ExitProcessWith(code);
}

void EndProgram() {
  FlushOutput();
  ExitProcessWith(0);
}
