// tessera-palette: what tessera by design can't do, read palettes. A frame
// keeps each pixel's palette index; its colours come from the palette it is
// shown with, so a picture whose editor stored the right colours in another
// order converts into a frame of wrong colours. `check` finds such pictures
// before they are converted; `remap` puts a picture, in palette or full
// colour, into the palette's order; `preview` shows a frame through a palette.
//
// Results go to standard output, errors to standard error, each naming its
// file. Exit status 0 when all is well, 1 when a picture differs from the
// palette, 2 for a usage error or a file that can't be read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/output_check.h"
#include "frontend/command_line.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessera-palette check [--depth 6|8] [--advice none|only] PALETTE [PICTURE...]\n"
    "       tessera-palette preview [--depth 6|8] PALETTE FRAME|PICTURE OUT.png\n"
    "       tessera-palette remap [--depth 6|8] [--nearest] [--transparent N] PALETTE PICTURE OUT\n"
    "\n"
    "check    for each picture, whether every index its pixels use shows the\n"
    "         palette's colour at that index, and what to run when not: exit\n"
    "         status 0 when all do, 1 when one differs, 2 when a file can't be\n"
    "         read; with no picture, whether the palette reads. A GIF of\n"
    "         several images is checked image by image\n"
    "preview  writes a frame, or the frame a picture will give (a GIF's first\n"
    "         image), as an indexed PNG with the palette's colours\n"
    "remap    writes the picture (palette or full colour) as OUT, an 8-bit .bmp,\n"
    "         an indexed .png or a .gif whose colours are the palette's: each\n"
    "         pixel keeps its index when the palette shows its colour there,\n"
    "         else takes the lowest index of that colour; exit status 1,\n"
    "         writing nothing, when a colour is missing or a pixel transparent.\n"
    "         A GIF of several images goes to a .gif, each image remapped\n"
    "         through its own colour table, its place, delay and disposal kept\n"
    "\n"
    "--nearest        remap: a colour the palette lacks takes the nearest one\n"
    "--transparent N  remap: transparent pixels take index N (0 to 255)\n"
    "--advice none    check: the next step's words without its command\n"
    "--advice only    check: the next step's command alone, without the\n"
    "                 program's name, for a script to print after its path\n"
    "\n"
    "PALETTE comes first. It is a JASC-PAL, GIMP, RIFF or Adobe palette, a table\n"
    "of 768 bytes (6-bit values when no byte is above 63; --depth 6 or 8 says\n"
    "which), one of 768 bytes of 6-bit values with lookup tables, or a picture\n"
    "tessera reads, whose own palette is taken. OUT may be remap's PICTURE,\n"
    "never the PALETTE nor preview's FRAME; an existing OUT is replaced only\n"
    "when it is a picture remap writes, or a preview for preview.\n";

[[noreturn]] void Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("tessera-palette: standard output could not be written\n", stderr);
    ExitProcessWith(2);
  }
  ExitProcessWith(static_cast<uint32_t>(status));
}

[[noreturn]] void UsageError(const std::string& what) {
  std::fprintf(stderr, "tessera-palette: %s\ntessera-palette --help tells more\n", what.c_str());
  Finish(2);
}

void Report(const std::string& name, const FileProblem& problem) {
  CleanUpForStop();  // whatever the failed read left open or held
  std::fprintf(stderr, "%s: %s\n", name.c_str(), FileProblemWords(problem, name).c_str());
}

// The files a command reads and writes are checked before any is read: a
// palette where a picture goes (the operands swapped), and an OUT that is the
// palette or preview's frame, by identity, or an existing OUT the command
// may not replace, end the run with 2, every file untouched.
void CheckOperands(const std::vector<std::string>& operands) {
  const std::string& command = operands[0];
  const char* form = command == "check"     ? "tessera-palette check PALETTE PICTURE..."
                     : command == "preview" ? "tessera-palette preview PALETTE FRAME OUT.png"
                                            : "tessera-palette remap PALETTE PICTURE OUT";
  const size_t pictures_end = command == "check" ? operands.size() : 3;
  for (size_t k = 2; k < pictures_end; ++k) {
    if (IsPaletteFile(operands[k].c_str())) {
      std::fprintf(stderr, "%s: a palette file, where a picture goes: the palette comes first, as in %s\n",
                   operands[k].c_str(), form);
      Finish(2);
    }
  }
  if (command == "check") return;
  const std::string& out = operands[3];
  if (FileSameAs(out.c_str(), operands[1].c_str())) {
    UsageError("OUT " + out + " is the palette " + operands[1] + " itself; give " + command + " another file to write");
  }
  if (command == "preview" && FileSameAs(out.c_str(), operands[2].c_str())) {
    UsageError("OUT " + out + " is " + operands[2] + " itself, which preview reads; give it another file to write");
  }
  try {
    if (command == "preview") {
      CheckPreviewOutput(out.c_str());
    } else {
      CheckRemapOutput(out.c_str(), operands[2].c_str());
    }
  } catch (const FileProblem& problem) {
    Report(out, problem);
    Finish(2);
  }
}

// check: what the pictures came to, each counted once.
struct Tally {
  uint32_t ok, differ, unreadable;
};

}  // namespace

int main(int argc, char** argv) {
  PrepareProcess();
  BlocksFromHeap();  // many pictures a run: memory of one serves the next
  SetArgumentVector(argc, argv);
  std::vector<std::string> operands;
  uint32_t depth = 0;
  RemapOptions remap = {false, -1};
  CheckAdvice advice = kAdviceInline;
  for (uint32_t n = 1; n <= ArgumentCount(); ++n) {
    const std::string argument = Argument(n);
    if (argument == "--help") {
      std::fputs(kUsage, stdout);
      Finish(0);
    } else if (argument == "--version") {
      std::puts("tessera-palette " TESSERA_VERSION);
      Finish(0);
    } else if (argument == "--depth") {
      const std::string value = Argument(++n);
      if (value != "6" && value != "8") UsageError("--depth takes 6 or 8");
      depth = value[0] - '0';
    } else if (argument == "--advice") {
      const std::string value = Argument(++n);
      if (value != "none" && value != "only") UsageError("--advice takes none or only");
      advice = value == "none" ? kAdviceNone : kAdviceOnly;
    } else if (argument == "--nearest") {
      remap.nearest = true;
    } else if (argument == "--transparent") {
      const std::string value = Argument(++n);
      if (value.empty() || value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(value) > 255) {
        UsageError("--transparent takes an index of 0 to 255");
      }
      remap.clear_to = std::stoi(value);
    } else if (argument.size() > 1 && argument[0] == '-' && argument != "--") {
      UsageError("no option " + argument);
    } else {
      operands.push_back(argument);
    }
  }
  if (operands.empty()) UsageError("no command");
  const std::string command = operands[0];
  if (command != "check" && command != "preview" && command != "remap") UsageError("no command " + command);
  if (command == "check" && operands.size() < 2) UsageError("check takes a palette and the pictures to check");
  if (command == "preview" && operands.size() != 4) {
    UsageError("preview takes a palette, a frame or picture, and a PNG to write");
  }
  if (command == "remap" && operands.size() != 4) UsageError("remap takes a palette, a picture and a file to write");
  if (command == "preview" && !HasExtension(operands[3], ".png")) {
    UsageError("preview writes a PNG, so OUT ends in .png, not " + operands[3]);
  }
  if (command == "remap" && !IsRemapOutput(operands[3]))
    UsageError("remap writes a .bmp, a .png or a .gif, not " + operands[3]);
  if (command != "remap" && (remap.nearest || remap.clear_to >= 0)) {
    UsageError("--nearest and --transparent apply to remap only");
  }
  if (command != "check" && advice != kAdviceInline) UsageError("--advice applies to check only");
  CheckOperands(operands);

  Palette palette;
  try {
    LoadPalette(operands[1].c_str(), depth, &palette);
  } catch (const FileProblem& problem) {
    Report(operands[1], problem);
    Finish(2);
  }
  if (command == "preview" || command == "remap") {  // read operand 2, write operand 3
    PackedFrame frame;
    Indices indices;
    std::string result;
    int status = 0;
    try {
      if (command == "preview") {
        const uint32_t images = CountGifImages(operands[2].c_str());
        frame = ReadFrame(operands[2].c_str(), operands[1].c_str());
        if (images > 1) {
          result =
              operands[2] + ": the first of " + std::to_string(images) + " images; tessera-frm make takes them all\n";
        }
        result += operands[3] + ": a preview of " + operands[2] + "\n";
      } else {
        status = RemapPicture(operands[2].c_str(), palette, remap, operands[3].c_str(), &indices, &result);
      }
    } catch (const FileProblem& problem) {
      std::fflush(stdout);
      Report(operands[2], problem);
      Finish(2);
    }
    if (status != 0) Finish(status);
    try {
      if (command == "preview") {
        WriteIndexedPng(operands[3].c_str(), frame, palette, {false, kPreviewMarker});
      } else {
        WriteRemapped(operands[3].c_str(), indices, palette);
      }
    } catch (const FileProblem& problem) {
      Report(operands[3], problem);
      Finish(2);
    }
    std::fputs(result.c_str(), stdout);  // what the command did, now that OUT holds it
    Finish(0);
  }
  if (operands.size() == 2) {  // the palette alone: it reads
    uint32_t colours = 0;
    for (uint32_t index = 0; index < 256; ++index) colours += IsColour(palette, index);
    std::printf("%s: a palette of %u colours\n", operands[1].c_str(), colours);
    Finish(0);
  }
  Tally tally = {0, 0, 0};
  for (size_t k = 2; k < operands.size(); ++k) {
    try {
      const int status = CheckPicture(operands[k].c_str(), palette, operands[1].c_str(), advice);
      ++(status == 0 ? tally.ok : tally.differ);
    } catch (const FileProblem& problem) {
      std::fflush(stdout);
      Report(operands[k], problem);
      ++tally.unreadable;
    }
  }
  if (operands.size() > 3) {
    std::printf("%u pictures: %u ok, %u differing, %u unreadable\n", tally.ok + tally.differ + tally.unreadable,
                tally.ok, tally.differ, tally.unreadable);
  }
  Finish(tally.unreadable > 0 ? 2 : tally.differ > 0 ? 1 : 0);
}
