// tessera-frm info: for each FRM, its first line
//
//   NAME: D directions of N frames, F fps, action frame A
//
// then a line for each direction and one for each frame it stores, and a
// line for each irregularity:
//
//     direction 0: shift X Y, frames at OFFSET
//       frame 0: W x H, offset X Y
//     direction 1: shift X Y, frames at OFFSET, those of direction 0
//     irregular: WHAT
//
// A file that can't be read is reported on standard error instead. With
// several files a last line counts them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/problem.h"
#include "frm/frm.h"

namespace {

const char* Plural(uint32_t count, const char* one, const char* many) { return count == 1 ? one : many; }

void PrintFrm(const std::string& name, const FrmFile& frm) {
  const FrmHeader& header = frm.header;
  const uint32_t n = header.frames_per_direction;
  std::printf("%s: %u %s of %u %s, %u fps, action frame %u\n", name.c_str(), frm.stored,
              Plural(frm.stored, "direction", "directions"), n, Plural(n, "frame", "frames"), header.fps,
              header.action_frame);
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    std::printf("  direction %u: shift %d %d, frames at %u", d, header.shift_x[d], header.shift_y[d],
                header.direction_offset[d]);
    if (frm.owner[d] != d) {
      std::printf(", those of direction %u\n", frm.owner[d]);
      continue;
    }
    std::putchar('\n');
    uint32_t position = header.direction_offset[d];
    for (uint32_t k = 0; k < n; ++k) {
      const FrmFrame frame = FrmFrameAt(frm, position);
      std::printf("    frame %u: %u x %u, offset %d %d\n", k, frame.header.width, frame.header.height,
                  frame.header.x_offset, frame.header.y_offset);
      position = frame.next;
    }
  }
  for (const FrmFile::Irregularity& irregularity : frm.irregularities) {
    std::printf("  irregular: %s\n", irregularity.found.c_str());
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& arguments) {
  std::vector<std::string> names;
  for (const std::string& argument : arguments) {
    if (argument.size() > 1 && argument[0] == '-') return UsageError("info takes no option " + argument);
    names.push_back(argument);
  }
  if (names.empty()) return UsageError("info takes the FRMs to tell about");
  uint32_t regular = 0, irregular = 0, unreadable = 0;
  for (const std::string& name : names) {
    FrmFile frm;
    try {
      ReadFrm(name.c_str(), &frm);
    } catch (const FileProblem& problem) {
      ReportFileProblem(name, problem);
      ++unreadable;
      continue;
    }
    PrintFrm(name, frm);
    ++(frm.irregularities.empty() ? regular : irregular);
  }
  if (names.size() > 1) {
    std::printf("%zu files: %u regular, %u irregular, %u unreadable\n", names.size(), regular, irregular, unreadable);
  }
  return unreadable > 0 ? 2 : irregular > 0 ? 1 : 0;
}
