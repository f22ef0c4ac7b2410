// The readers' stops, as tessera-palette takes them: after the same clean-up
// a stop does in tessera (files closed, blocks released, a pending temporary
// file removed), the reason is thrown to the command as a FileProblem, which
// reports it against the file it was reading and goes on with the next one.
#include "frontend/stop.h"

#include <cstdint>
#include <string>

#include "convert/readers.h"
#include "palette/palette.h"
#include "platform/platform.h"

void ThrowProblem(const std::string& what) { throw FileProblem{what}; }

void StopWithCode(uint32_t code, int) {
  CleanUpForStop();
  switch (code) {
    case kShortRead:
      ThrowProblem("damaged or cut short");
    case kShortWrite:
      ThrowProblem("could not be written in full");
    case kUnsupportedBitmap:
      ThrowProblem("not a palette picture tessera reads");
    case kUnreadColours:
      ThrowProblem("a full-colour picture of a kind remap does not read; save it as a 24-bit PNG or bitmap");
    case kOutOfMemory:
      ThrowProblem("too large to read");
    case 2:
      ThrowProblem("no such file");
    default:
      ThrowProblem("system error " + std::to_string(code));
  }
}
