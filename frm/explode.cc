// tessera-frm explode: an FRM taken apart into a folder. Each frame a
// direction stores, when it has pixels, becomes the indexed PNG D-NNN.png
// (its direction, its number from 000), and frames.txt lists them in the
// grammar make reads, with every number the header and the frame headers
// hold: a regular file's frames.txt and pictures give it back byte for byte.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/png_writer.h"
#include "common/problem.h"
#include "frm/frm.h"
#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

// A file explode writes: its name in FOLDER, and where the picture's frame
// starts (for a picture).
struct Output {
  std::string name;
  uint32_t position;
};

// Whether anything of that name is there: a file, a folder, a FIFO.
bool Exists(const std::string& name) { return FileSameAs(name.c_str(), name.c_str()); }

// " WORD X Y", or nothing for 0 0, each statement's default.
std::string Pair(const char* word, int32_t x, int32_t y) {
  if (x == 0 && y == 0) return "";
  char text[32];
  std::snprintf(text, sizeof text, " %s %d %d", word, x, y);
  return text;
}

// frames.txt, and the pictures it names, in `pictures`.
std::string ListFrames(const FrmFile& frm, std::vector<Output>* pictures) {
  const FrmHeader& header = frm.header;
  std::string list =
      "# The frames of an FRM as tessera-frm explode wrote them, each picture D-NNN.png\n"
      "# (direction, frame). tessera-frm make OUT.frm FOLDER builds the FRM again.\n";
  list += "fps " + std::to_string(header.fps) + "\naction-frame " + std::to_string(header.action_frame) + "\n";
  bool one = frm.stored == 1;
  for (uint32_t d = 1; d < kFrmDirections; ++d) {
    one = one && header.shift_x[d] == header.shift_x[0] && header.shift_y[d] == header.shift_y[0];
  }
  for (uint32_t d = 0; d < (one ? 1 : kFrmDirections); ++d) {
    const std::string shift = Pair("shift", header.shift_x[d], header.shift_y[d]);
    if (frm.owner[d] != d) {
      list += "direction " + std::to_string(d) + " same-as " + std::to_string(frm.owner[d]) + shift + "\n";
      continue;
    }
    list += "direction " + std::to_string(d) + shift + "\n";
    uint32_t position = header.direction_offset[d];
    for (uint32_t k = 0; k < header.frames_per_direction; ++k) {
      const FrmFrame frame = FrmFrameAt(frm, position);
      const FrmFrameHeader& f = frame.header;
      const std::string offset = Pair("offset", f.x_offset, f.y_offset);
      if (f.width == 0 || f.height == 0) {
        list += "empty " + std::to_string(f.width) + " " + std::to_string(f.height) + offset + "\n";
      } else {
        char name[32];
        std::snprintf(name, sizeof name, "%u-%03u.png", d, k);
        pictures->push_back({name, position});
        list += "frame " + std::string(name) + offset + "\n";
      }
      position = frame.next;
    }
  }
  return list;
}

// The frame at `position` as an indexed PNG, index 0 transparent; `raw` is
// room for its rows, each after its filter byte.
void WritePicture(const FrmFile& frm, uint32_t position, const Palette& palette, const std::string& name,
                  std::vector<uint8_t>* raw) {
  const FrmFrame frame = FrmFrameAt(frm, position);
  const uint32_t width = frame.header.width, height = frame.header.height;
  raw->resize((uint64_t{width} + 1) * height);
  uint8_t largest = 0;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = raw->data() + uint64_t{y} * (width + 1);
    const uint8_t* pixels = frame.pixels + uint64_t{y} * width;
    row[0] = 0;
    std::memcpy(row + 1, pixels, width);
    largest = std::max(largest, *std::max_element(pixels, pixels + width));
  }
  WriteIndexedPng(name.c_str(), PackRows(raw->data(), raw->size(), width, height, largest, Z_BEST_SPEED), palette,
                  {true, nullptr});
}

void WriteList(const std::string& name, const std::string& list) {
  FileHandle output;
  if (uint32_t error = FileCheckReplaceable(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(name.c_str(), &output)) StopWithCode(error);
  WriteBytes(output, list.data(), static_cast<uint32_t>(list.size()));
  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(name.c_str())) StopWithCode(error);
}

}  // namespace

int RunExplode(const std::vector<std::string>& arguments) {
  bool replace = false;
  std::vector<std::string> operands;
  for (const std::string& argument : arguments) {
    if (argument == "--replace") {
      replace = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      return UsageError("explode has no option " + argument);
    } else {
      operands.push_back(argument);
    }
  }
  if (operands.size() != 3) return UsageError("explode takes a palette, an FRM and a folder to write into");
  const std::string &palette_name = operands[0], &frm_name = operands[1], &folder = operands[2];
  Palette palette;
  try {
    LoadPalette(palette_name.c_str(), 0, &palette);
  } catch (const FileProblem& problem) {
    ReportFileProblem(palette_name, problem);
    return 2;
  }
  FrmFile frm;
  try {
    ReadFrm(frm_name.c_str(), &frm);
  } catch (const FileProblem& problem) {
    ReportFileProblem(frm_name, problem);
    return 2;
  }
  std::vector<Output> pictures;
  const std::string list = ListFrames(frm, &pictures);
  const std::string list_name = WithSeparator(folder) + "frames.txt";

  if (IsFolder(folder.c_str())) {
    if (!replace && Exists(list_name)) {
      std::fprintf(stderr,
                   "%s: already holds a frames.txt, whose frames may have been edited; give --replace to "
                   "write over it, or another folder\n",
                   folder.c_str());
      return 2;
    }
    for (size_t k = 0; k <= pictures.size(); ++k) {
      const std::string name = k < pictures.size() ? WithSeparator(folder) + pictures[k].name : list_name;
      if (FileSameAs(name.c_str(), palette_name.c_str()) || FileSameAs(name.c_str(), frm_name.c_str())) {
        std::fprintf(stderr, "%s: is what explode reads; give it another folder to write into\n", name.c_str());
        return 2;
      }
      // Whatever of that name can't be replaced (a folder, a FIFO, a
      // read-only file) stops explode before it writes anything.
      if (uint32_t error = FileCheckReplaceable(name.c_str())) {
        ReportFileProblem(name, FileProblem{"", error});
        return 2;
      }
    }
  } else if (Exists(folder)) {
    std::fprintf(stderr, "%s: a file, not a folder; explode writes a folder of pictures\n", folder.c_str());
    return 2;
  } else if (uint32_t error = MakeFolder(folder.c_str())) {
    ReportFileProblem(folder, FileProblem{"", error});
    return 2;
  }

  std::vector<uint8_t> raw;
  std::string name = list_name;
  try {
    for (const Output& picture : pictures) {
      name = WithSeparator(folder) + picture.name;
      WritePicture(frm, picture.position, palette, name, &raw);
    }
    name = list_name;
    WriteList(name, list);
  } catch (const FileProblem& problem) {
    ReportFileProblem(name, problem);
    return 2;
  }
  for (const FrmFile::Irregularity& irregularity : frm.irregularities) {
    std::printf("%s: %s; %s\n", frm_name.c_str(), irregularity.found.c_str(), irregularity.rebuilt.c_str());
  }
  std::printf("%s: frames.txt and %zu %s of %s\n", folder.c_str(), pictures.size(),
              pictures.size() == 1 ? "picture" : "pictures", frm_name.c_str());
  return frm.irregularities.empty() ? 0 : 1;
}
