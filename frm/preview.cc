// tessera-frm preview: an FRM as the game draws it. A GIF plays one
// direction: each frame is an image of its own rectangle on the smallest
// screen that holds every frame where the drawing rule puts it, disposed of
// (disposal 2: back to the transparent index 0) before the next, so each is
// drawn alone as the game draws it. A PNG sheet has a row for each stored
// direction and a column for each frame, every cell the smallest box that
// holds every frame of every stored direction, with the object's point at
// the same place in each.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/gif_writer.h"
#include "common/output_check.h"
#include "common/png_writer.h"
#include "common/problem.h"
#include "frm/frm.h"
#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

constexpr int64_t kLargestGifSide = 65535;

// A rectangle being grown to hold frames: left, top, right, bottom.
struct Box {
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
};

void Hold(Box* box, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  box->left = std::min(box->left, left), box->top = std::min(box->top, top);
  box->right = std::max(box->right, right), box->bottom = std::max(box->bottom, bottom);
}

// Where direction d's frames are drawn with the object's point at (0, 0):
// each frame's top-left corner in `corners`, grown into `box` (a frame with
// no pixels by its point).
void PlaceDirection(const FrmFile& frm, uint32_t d, std::vector<FrmFrame>* frames, std::vector<int64_t>* corners,
                    Box* box) {
  int64_t x = frm.header.shift_x[d], y = frm.header.shift_y[d];
  uint32_t position = frm.header.direction_offset[d];
  for (uint32_t k = 0; k < frm.header.frames_per_direction; ++k) {
    const FrmFrame frame = FrmFrameAt(frm, position);
    int64_t left, top;
    PlaceFrmFrame(frame, k, &x, &y, &left, &top);
    const bool empty = frame.header.width == 0 || frame.header.height == 0;
    if (empty) {
      Hold(box, x, y, x, y);
    } else {
      Hold(box, left, top, left + frame.header.width, top + frame.header.height);
    }
    frames->push_back(frame);
    corners->push_back(empty ? x : left);
    corners->push_back(empty ? y : top);
    position = frame.next;
  }
}

// A side of a screen or cell, at least 1; below 2^34, whatever the frames.
uint64_t Side(int64_t low, int64_t high) { return static_cast<uint64_t>(std::max<int64_t>(1, high - low)); }

std::string Size(uint64_t width, uint64_t height) { return std::to_string(width) + " x " + std::to_string(height); }

void WriteAnimation(const std::string& out, const FrmFile& frm, uint32_t d, const Palette& palette) {
  std::vector<FrmFrame> frames;
  std::vector<int64_t> corners;
  Box box;
  PlaceDirection(frm, d, &frames, &corners, &box);
  if (box.right - box.left > kLargestGifSide || box.bottom - box.top > kLargestGifSide) {
    ThrowProblem("direction " + std::to_string(d) + " needs a screen of " +
                 Size(box.right - box.left, box.bottom - box.top) + ", past the 65535 a GIF's side can have");
  }
  const uint32_t width = static_cast<uint32_t>(Side(box.left, box.right));
  const uint32_t height = static_cast<uint32_t>(Side(box.top, box.bottom));
  const uint32_t fps = frm.header.fps == 0 ? 10 : frm.header.fps;
  const uint32_t delay = (200 + fps) / (2 * fps);  // 100 / fps, rounded half up
  GifOutput gif;
  StartGif(out.c_str(), {width, height, 0, &palette, 0, kPreviewMarker}, &gif);
  static const uint8_t kClear = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const FrmFrameHeader& f = frames[k].header;
    const uint32_t left = static_cast<uint32_t>(corners[2 * k] - box.left);
    const uint32_t top = static_cast<uint32_t>(corners[2 * k + 1] - box.top);
    if (f.width == 0 || f.height == 0) {  // one clear pixel at its point, kept on the screen
      WriteGifImage(&gif, {std::min(left, width - 1), std::min(top, height - 1), 1, 1, &kClear, 1, delay, 2, 0});
    } else {
      WriteGifImage(&gif, {left, top, f.width, f.height, frames[k].pixels, f.width, delay, 2, 0});
    }
  }
  FinishGif(&gif);
  std::printf("%s: direction %u, %zu %s on a screen of %s\n", out.c_str(), d, frames.size(),
              frames.size() == 1 ? "frame" : "frames", Size(width, height).c_str());
}

void WriteSheet(const std::string& out, const FrmFile& frm, const Palette& palette) {
  std::vector<FrmFrame> frames;
  std::vector<int64_t> corners;
  Box box;
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    if (frm.owner[d] == d) PlaceDirection(frm, d, &frames, &corners, &box);
  }
  const uint32_t columns = frm.header.frames_per_direction;
  const uint64_t cell_width = Side(box.left, box.right), cell_height = Side(box.top, box.bottom);
  // Each side of a cell is below 2^34 and the counts below 2^16, so only
  // the last product needs a check of its own before it is made.
  const uint64_t width = cell_width * columns, height = cell_height * frm.stored;
  const uint64_t raw_size = width < kBlockLimit && height < kBlockLimit ? (width + 1) * height : kBlockLimit;
  if (raw_size >= kBlockLimit) {
    ThrowProblem("a sheet of " + Size(width, height) + ", too large to write; preview one direction as a GIF");
  }
  std::vector<uint8_t> raw(raw_size);  // each row after its filter byte 0
  uint8_t largest = 0;
  for (size_t n = 0; n < frames.size(); ++n) {
    const FrmFrameHeader& f = frames[n].header;
    const uint64_t left = n % columns * cell_width + static_cast<uint64_t>(corners[2 * n] - box.left);
    const uint64_t top = n / columns * cell_height + static_cast<uint64_t>(corners[2 * n + 1] - box.top);
    for (uint32_t y = 0; y < (f.width == 0 ? 0 : f.height); ++y) {
      const uint8_t* pixels = frames[n].pixels + uint64_t{y} * f.width;
      std::memcpy(&raw[(top + y) * (width + 1) + 1 + left], pixels, f.width);
      largest = std::max(largest, *std::max_element(pixels, pixels + f.width));
    }
  }
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  WriteIndexedPng(out.c_str(), PackRows(raw.data(), raw_size, w, h, largest, Z_DEFAULT_COMPRESSION), palette,
                  {true, kPreviewMarker});
  std::printf("%s: %u %s of %u %s, cells of %s\n", out.c_str(), frm.stored,
              frm.stored == 1 ? "direction" : "directions", columns, columns == 1 ? "frame" : "frames",
              Size(cell_width, cell_height).c_str());
}

}  // namespace

int RunPreview(const std::vector<std::string>& arguments) {
  std::vector<std::string> operands;
  int32_t direction = -1;
  for (size_t k = 0; k < arguments.size(); ++k) {
    const std::string& argument = arguments[k];
    if (argument == "--direction") {
      const std::string value = k + 1 < arguments.size() ? arguments[++k] : "";
      if (value.size() != 1 || value[0] < '0' || value[0] > '5') return UsageError("--direction takes 0 to 5");
      direction = value[0] - '0';
    } else if (argument.size() > 1 && argument[0] == '-') {
      return UsageError("preview has no option " + argument);
    } else {
      operands.push_back(argument);
    }
  }
  if (operands.size() != 3) return UsageError("preview takes a palette, an FRM and a .gif or .png to write");
  const std::string &palette_name = operands[0], &frm_name = operands[1], &out = operands[2];
  const bool gif = HasExtension(out, ".gif");
  if (!gif && !HasExtension(out, ".png")) return UsageError("preview writes a .gif or a .png, not " + out);
  if (!gif && direction >= 0) return UsageError("--direction is for a GIF: a PNG sheet shows every direction");
  for (const std::string* input : {&palette_name, &frm_name}) {
    if (FileSameAs(out.c_str(), input->c_str())) {
      return UsageError("OUT " + out + " is " + *input + " itself, which preview reads; give it another file to write");
    }
  }
  Palette palette;
  FrmFile frm;
  const std::string* name = &out;
  try {
    CheckPreviewOutput(out.c_str());  // before anything is read: OUT may only be an earlier preview
    name = &palette_name;
    LoadPalette(palette_name.c_str(), 0, &palette);
    name = &frm_name;
    ReadFrm(frm_name.c_str(), &frm);
    name = &out;
    if (gif) {
      WriteAnimation(out, frm, direction < 0 ? 0 : static_cast<uint32_t>(direction), palette);
    } else {
      WriteSheet(out, frm, palette);
    }
  } catch (const FileProblem& problem) {
    ReportFileProblem(*name, problem);
    return 2;
  }
  return 0;
}
