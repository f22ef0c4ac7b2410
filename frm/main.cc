// tessera-frm: FRM files of many frames, in one or six directions. `make`
// builds one from pictures, animated GIFs, sheets, folders or a frames.txt
// list; `info` tells what a file holds and whether it is regular; `explode`
// takes one apart into PNGs and a frames.txt that `make` puts back together
// byte for byte; `preview` shows one as an animated GIF or a sheet.
//
// Results go to standard output, errors to standard error, each naming its
// file. Exit status 0 for success, 1 for an irregular file (info, explode),
// 2 for an error.
#include <cstdio>
#include <string>
#include <vector>

#include "frm/frm.h"
#include "frontend/command_line.h"
#include "platform/platform.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessera-frm make [OPTIONS] OUT.frm INPUT...\n"
    "       tessera-frm info FRM...\n"
    "       tessera-frm explode [--replace] PALETTE FRM FOLDER\n"
    "       tessera-frm preview [--direction D] PALETTE FRM OUT.gif|OUT.png\n"
    "\n"
    "make     writes the frames of the INPUTs, in order, as one FRM: each\n"
    "         picture one frame, each image of an animated GIF one frame, a\n"
    "         folder's pictures in natural name order (or its frames.txt), a\n"
    "         pattern's matches in the same order\n"
    "info     what each FRM holds, and every way it is irregular\n"
    "explode  writes each frame as FOLDER/D-NNN.png and FOLDER/frames.txt, which\n"
    "         make builds the FRM from again; --replace writes over an earlier\n"
    "         frames.txt\n"
    "preview  an animated GIF of direction D (0 unless --direction), or a PNG\n"
    "         sheet of every stored direction, a row each\n"
    "\n"
    "make's options:\n"
    "  --grid CxR         each picture is a sheet of C columns and R rows of frames\n"
    "  --directions 1|6   one direction (the default), or six equal runs\n"
    "  --fps N            frames per second\n"
    "  --action-frame K   the frame on which the action happens\n"
    "  --shift X Y        every direction's shift\n"
    "  --crop             cut each frame to its pixels other than 0, offsets\n"
    "                     keeping it where its picture would be\n";

}  // namespace

int UsageError(const std::string& what) {
  std::fprintf(stderr, "tessera-frm: %s\ntessera-frm --help tells more\n", what.c_str());
  return 2;
}

int main(int argc, char** argv) {
  PrepareProcess();
  BlocksFromHeap();  // many pictures a run: memory of one serves the next
  SetArgumentVector(argc, argv);
  std::vector<std::string> arguments;
  for (uint32_t n = 1; n <= ArgumentCount(); ++n) arguments.push_back(Argument(n));
  int status;
  if (arguments.empty()) {
    status = UsageError("no command");
  } else if (arguments[0] == "--help") {
    std::fputs(kUsage, stdout);
    status = 0;
  } else if (arguments[0] == "--version") {
    std::puts("tessera-frm " TESSERA_VERSION);
    status = 0;
  } else {
    const std::string command = arguments[0];
    arguments.erase(arguments.begin());
    status = command == "make"      ? RunMake(arguments)
             : command == "info"    ? RunInfo(arguments)
             : command == "explode" ? RunExplode(arguments)
             : command == "preview" ? RunPreview(arguments)
                                    : UsageError("no command " + command);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("tessera-frm: standard output could not be written\n", stderr);
    status = 2;
  }
  ExitProcessWith(static_cast<uint32_t>(status));
}
