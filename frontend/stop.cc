#include "frontend/stop.h"

#include "frontend/output.h"
#include "platform/platform.h"

__attribute__((noinline)) void StopWithCode(uint32_t code, int /*site*/) {
  FileRemoveTemporary();
  FlushOutput();
  ExitProcessWith(code);
}

void EndProgram() {
  FlushOutput();
  ExitProcessWith(0);
}
