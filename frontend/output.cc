// Text is collected in a 128-byte buffer and written out whenever it fills.
// On a console (a character device) it is also written out at every line end,
// so each line shows at once; to a file or pipe it goes out only when full
// and at the end. Standard output is bound on first use, never at start-up.
#include "frontend/output.h"

#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

enum ChannelState { kNotOpened, kOpen, kUnusable };

ChannelState state = kNotOpened;
bool console = false;
char buffer[128];
uint32_t used = 0;

// The buffer is emptied before the write, so a failed write discards it.
uint32_t WriteOut() {
  uint32_t count = used;
  used = 0;
  return count == 0 ? 0 : StdoutWrite(buffer, count);
}

uint32_t Append(std::string_view text) {
  for (char byte : text) {
    buffer[used++] = byte;
    if (used == sizeof buffer) {
      if (uint32_t error = WriteOut()) return error;
    }
  }
  return 0;
}

}  // namespace

uint32_t WriteLine(std::string_view text) {
  if (state == kNotOpened) {
    StdoutKind kind = StdoutOpen();
    state = kind == kStdoutUnusable ? kUnusable : kOpen;
    console = kind == kStdoutConsole;
  }
  if (state == kUnusable) return kChannelNotOpen;
  if (uint32_t error = Append(text)) return error;
  if (uint32_t error = Append("\r\n")) return error;
  return console ? WriteOut() : 0;
}

void FlushOutput() {
  if (state == kOpen) WriteOut();
}
