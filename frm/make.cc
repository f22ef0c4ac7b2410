// tessera-frm make: writes the frames of its inputs, in order, as one FRM.
//
// The FRM is written into a temporary file beside OUT, a frame at a time as
// each picture is read (one write a frame), so that no more than one picture
// and one frame are held at once; it is moved onto OUT once complete. What
// depends on every frame (frames per direction, the shifts, the direction
// offsets, a direction's first frame's offset under --crop) is put in at the
// end by seeking back, which is why the file stays below 2 GiB: positions
// are 32-bit.
#include "frm/make.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "common/problem.h"
#include "convert/gif_animation.h"
#include "convert/readers.h"
#include "frm/frame_list.h"
#include "frm/frm.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kFileLimit = uint64_t{1} << 31;
constexpr uint32_t kLargestSide = 65535;
constexpr uint64_t kLargestList = 16 << 20;

struct Options {
  uint32_t columns = 1, rows = 1;
  bool grid_given = false;
  uint32_t directions = 1;
  bool directions_given = false;
  int32_t fps = -1, action_frame = -1;  // -1: not given
  int32_t shift_x = 0, shift_y = 0;
  bool shift_given = false;
  bool crop = false;
};

// A frame written: where it starts in the frame area, its displacement
// (--crop) and the offset its header holds.
struct Placed {
  uint32_t start;
  int32_t dx, dy;
  int32_t x_offset, y_offset;
};

struct Maker {
  Options options;
  std::string out;
  FileHandle output;
  std::string blame;  // the file a problem is with
  std::vector<uint8_t> buffer;
  std::vector<Placed> frames;
  uint64_t area;
  const ListedFrame* listed;  // the list's frame being read, or nullptr
  uint32_t images;            // of the GIF being read
  bool all_gifs;
  int64_t first_delay;  // of the first GIF's first image, -1 before it
};

// A picture's indices: `width` x `height`, the top row at `top`, each next
// row `step` bytes on (negative for a picture stored bottom row first).
struct Indices {
  const uint8_t* top;
  ptrdiff_t step;
  uint32_t width, height;
};

std::string Number(int64_t value) { return std::to_string(value); }

std::string Counted(uint64_t count, const char* thing) {
  return Number(static_cast<int64_t>(count)) + " " + thing + (count == 1 ? "" : "s");
}

bool InShortRange(int64_t value) { return value >= -32768 && value <= 32767; }

void WriteOut(Maker* maker, const void* bytes, uint32_t size) {
  const std::string reading = maker->blame;
  maker->blame = maker->out;
  WriteBytes(maker->output, bytes, size);
  maker->blame = reading;
}

void SeekOut(Maker* maker, uint64_t position) {
  if (uint32_t error = FileSeek(maker->output, static_cast<int32_t>(position))) {
    maker->blame = maker->out;
    StopWithCode(error);
  }
}

// Writes one frame, its header and its rows in one write.
void WriteFrame(Maker* maker, const Indices& cell, int32_t x_offset, int32_t y_offset, int32_t dx, int32_t dy) {
  if (cell.width > kLargestSide || cell.height > kLargestSide) {
    ThrowProblem("a frame of " + Number(cell.width) + " x " + Number(cell.height) +
                 ": an FRM frame is at most 65535 on a side");
  }
  const uint64_t pixels = uint64_t{cell.width} * cell.height, size = kFrmFrameHeaderSize + pixels;
  if (kFrmHeaderSize + maker->area + size >= kFileLimit) {
    ThrowProblem("the frames come to 2 GiB or more, more than an FRM holds");
  }
  try {
    if (maker->buffer.size() < size) maker->buffer.resize(size);
  } catch (const std::bad_alloc&) {
    StopWithCode(kOutOfMemory);
  }
  const FrmFrameHeader header = {static_cast<uint16_t>(cell.width), static_cast<uint16_t>(cell.height),
                                 static_cast<uint32_t>(pixels), static_cast<int16_t>(x_offset),
                                 static_cast<int16_t>(y_offset)};
  StoreFrmFrameHeader(header, maker->buffer.data());
  for (uint32_t y = 0; y < cell.height && cell.width > 0; ++y) {
    std::copy_n(cell.top + y * cell.step, cell.width,
                maker->buffer.data() + kFrmFrameHeaderSize + uint64_t{y} * cell.width);
  }
  maker->frames.push_back({static_cast<uint32_t>(maker->area), dx, dy, x_offset, y_offset});
  WriteOut(maker, maker->buffer.data(), static_cast<uint32_t>(size));
  maker->area += size;
}

// One frame of a picture (or of a sheet's cell): whole, or with --crop cut
// to its pixels other than 0, its offset keeping it where the whole would be
// drawn. The offset is the change of displacement from the frame before;
// a direction's first frame has 0 there, put in once the directions are known.
void TakeCell(Maker* maker, const Indices& cell) {
  if (!maker->options.crop) return WriteFrame(maker, cell, 0, 0, 0, 0);
  uint32_t left = cell.width, right = 0, top = cell.height, bottom = 0;
  for (uint32_t y = 0; y < cell.height && cell.width > 0; ++y) {
    const uint8_t* row = cell.top + y * cell.step;
    const uint8_t* first = std::find_if(row, row + cell.width, [](uint8_t index) { return index != 0; });
    if (first == row + cell.width) continue;
    const uint8_t* last =
        std::find_if(std::make_reverse_iterator(row + cell.width), std::make_reverse_iterator(row), [](uint8_t index) {
          return index != 0;
        }).base();
    left = std::min(left, static_cast<uint32_t>(first - row));
    right = std::max(right, static_cast<uint32_t>(last - row));
    top = std::min(top, y);
    bottom = y + 1;
  }
  static const uint8_t kClear = 0;
  Indices cut = {&kClear, 1, 1, 1};
  int32_t dx = 0, dy = 0;
  if (bottom > 0) {
    cut = {cell.top + top * cell.step + left, cell.step, right - left, bottom - top};
    dx = static_cast<int32_t>(left + cut.width / 2) - static_cast<int32_t>(cell.width / 2);
    dy = static_cast<int32_t>(bottom) - static_cast<int32_t>(cell.height);
  }
  const int32_t before_x = maker->frames.empty() ? 0 : maker->frames.back().dx;
  const int32_t before_y = maker->frames.empty() ? 0 : maker->frames.back().dy;
  WriteFrame(maker, cut, dx - before_x, dy - before_y, dx, dy);
}

// A picture's frames: itself, a list's frame with its listed offset, or the
// cells of a sheet.
void TakePicture(Maker* maker, const Indices& picture) {
  if (maker->listed != nullptr) {
    return WriteFrame(maker, picture, maker->listed->x_offset, maker->listed->y_offset, 0, 0);
  }
  const uint32_t columns = maker->options.columns, rows = maker->options.rows;
  if (picture.width % columns != 0 || picture.height % rows != 0) {
    ThrowProblem(Number(picture.width) + " x " + Number(picture.height) + " does not split into " +
                 Counted(columns, "column") + " and " + Counted(rows, "row") + " of equal cells");
  }
  const uint32_t width = picture.width / columns, height = picture.height / rows;
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t column = 0; column < columns; ++column) {
      const ptrdiff_t at = static_cast<ptrdiff_t>(row) * height * picture.step + ptrdiff_t{column} * width;
      TakeCell(maker, {picture.top == nullptr ? nullptr : picture.top + at, picture.step, width, height});
    }
  }
}

void TakeGifFrame(const GifScreen& screen, const GifImage& image, const uint8_t* frame, void* context) {
  Maker* maker = static_cast<Maker*>(context);
  if (maker->listed != nullptr && maker->images > 0) {
    ThrowProblem("a GIF of several images, where a list's frame is one picture");
  }
  if (maker->first_delay < 0) maker->first_delay = image.delay;
  ++maker->images;
  TakePicture(maker, {frame, static_cast<ptrdiff_t>(screen.width), screen.width, screen.height});
}

// The frames of one file: a picture's, or every image's of an animated GIF.
void ReadFrames(Maker* maker, const std::string& name) {
  maker->blame = name;
  uint64_t size;
  const FileHandle input = OpenToRead(name.c_str(), &size);
  uint8_t start[kStartSize];
  uint32_t got;
  if (uint32_t error = FileRead(input, start, sizeof start, &got)) StopWithCode(error);
  const Reader reader = PickReader(start, got);
  if (reader == ReadGif) {
    GifWalk walk = {0};
    maker->images = 0;
    try {
      ReadGifFrames(input, TakeGifFrame, maker, &walk);
    } catch (const FileProblem& problem) {
      if (maker->blame != name || walk.image == 0) throw;
      throw FileProblem{"image " + Number(walk.image) + ": " + FileProblemWords(problem, name)};
    }
  } else {
    maker->all_gifs = false;
    const Picture picture = reader(input, start, got, nullptr);  // as ReadPicture reads it, from its start
    const bool up = !picture.top_down && picture.height > 0 && picture.rows != nullptr;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(picture.stride);
    TakePicture(maker, {up ? picture.rows + (picture.height - 1) * stride : picture.rows, up ? -stride : stride,
                        picture.width, picture.height});
    ReleaseBlock(picture.block);
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}

std::string ReadList(const std::string& name) {
  std::vector<uint8_t> bytes;
  ReadWholeFile(name.c_str(), kLargestList + 1, "too large for a list of frames", &bytes);
  return std::string(bytes.begin(), bytes.end());
}

// The header's fields that don't depend on how the frames were made.
FrmHeader StartHeader(uint32_t fps, uint32_t action_frame, uint32_t per_direction, uint64_t area) {
  FrmHeader header = {};
  header.version = kFrmVersion;
  header.fps = static_cast<uint16_t>(fps);
  header.action_frame = static_cast<uint16_t>(action_frame);
  header.frames_per_direction = static_cast<uint16_t>(per_direction);
  header.frame_area_size = static_cast<uint32_t>(area);
  return header;
}

// fps: as given, else 0 for a file of one frame, as tessera writes, else
// `otherwise`.
uint32_t ChooseFps(int32_t given, uint64_t stored_frames, uint32_t otherwise) {
  return given >= 0 ? static_cast<uint32_t>(given) : stored_frames == 1 ? 0 : otherwise;
}

void CheckActionFrame(uint32_t action_frame, uint32_t per_direction) {
  if (action_frame >= per_direction) {
    ThrowProblem("action frame " + Number(action_frame) + " is past the last frame of a direction, " +
                 Number(per_direction - 1));
  }
}

// The frames of a frames.txt, with its offsets and shifts as listed.
FrmHeader MakeFromList(Maker* maker, const FrameList& list, const std::string& folder) {
  uint32_t offsets[kFrmDirections] = {};
  for (size_t d = 0; d < list.directions.size(); ++d) {
    const ListedDirection& direction = list.directions[d];
    if (direction.same_as >= 0) {
      offsets[d] = offsets[direction.same_as];
      continue;
    }
    offsets[d] = static_cast<uint32_t>(maker->area);
    for (const ListedFrame& frame : direction.frames) {
      if (frame.name.empty()) {
        maker->blame = maker->out;
        WriteFrame(maker, {nullptr, 0, frame.width, frame.height}, frame.x_offset, frame.y_offset, 0, 0);
      } else {
        maker->listed = &frame;
        ReadFrames(maker, folder + frame.name);
      }
    }
  }
  maker->blame = maker->out;
  const uint32_t n = list.frames_per_direction;
  const int32_t action_frame = maker->options.action_frame >= 0 ? maker->options.action_frame : list.action_frame;
  CheckActionFrame(std::max(action_frame, 0), n);
  FrmHeader header =
      StartHeader(ChooseFps(maker->options.fps >= 0 ? maker->options.fps : list.fps, maker->frames.size(), 10),
                  std::max(action_frame, 0), n, maker->area);
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    const ListedDirection& direction = list.directions[list.directions.size() == 1 ? 0 : d];
    header.shift_x[d] = direction.shift_x, header.shift_y[d] = direction.shift_y;
    header.direction_offset[d] = list.directions.size() == 1 ? 0 : offsets[d];
  }
  return header;
}

// The frames of the files in order, dealt into directions, with --crop's
// shifts and offsets.
FrmHeader MakeFromFiles(Maker* maker, const std::vector<std::string>& files) {
  for (const std::string& file : files) ReadFrames(maker, file);
  maker->blame = maker->out;
  const Options& options = maker->options;
  const uint64_t count = maker->frames.size();
  if (count % options.directions != 0) {
    ThrowProblem("the inputs give " + Counted(count, "frame") +
                 ", which six directions can't share equally: give a multiple of 6");
  }
  const uint64_t n = count / options.directions;
  if (n > 65535) ThrowProblem("the inputs give " + Number(n) + " frames a direction, and a direction holds 65535");
  CheckActionFrame(std::max(options.action_frame, 0), static_cast<uint32_t>(n));
  const uint32_t fps = !maker->all_gifs || maker->first_delay <= 0
                           ? 10
                           : static_cast<uint32_t>((200 + maker->first_delay) / (2 * maker->first_delay));
  FrmHeader header = StartHeader(ChooseFps(options.fps, count, fps), std::max(options.action_frame, 0),
                                 static_cast<uint32_t>(n), maker->area);
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    const Placed& first = maker->frames[(options.directions == 1 ? 0 : d) * n];
    const int64_t x = int64_t{options.shift_x} + first.dx, y = int64_t{options.shift_y} + first.dy;
    if (!InShortRange(x) || !InShortRange(y)) {
      ThrowProblem("direction " + Number(d) + "'s shift comes to " + Number(x) + " " + Number(y) +
                   ", outside -32768 to 32767");
    }
    header.shift_x[d] = static_cast<int16_t>(x), header.shift_y[d] = static_cast<int16_t>(y);
    header.direction_offset[d] = options.directions == 1 ? 0 : first.start;
  }
  for (uint64_t k = 0; k < count; ++k) {
    const Placed& frame = maker->frames[k];
    if (k % n != 0 && (!InShortRange(frame.x_offset) || !InShortRange(frame.y_offset))) {
      ThrowProblem("frame " + Number(k % n) + " of direction " + Number(k / n) + " has an offset of " +
                   Number(frame.x_offset) + " " + Number(frame.y_offset) + ", outside -32768 to 32767");
    }
    if (k % n == 0 && (frame.x_offset != 0 || frame.y_offset != 0)) {
      static const uint8_t kNoOffset[4] = {};
      SeekOut(maker, kFrmHeaderSize + frame.start + 8);
      WriteOut(maker, kNoOffset, sizeof kNoOffset);
    }
  }
  return header;
}

// A whole number from `low` to `high` out of a command line's argument.
bool OptionNumber(const std::vector<std::string>& arguments, size_t* k, int64_t low, int64_t high, int32_t* value) {
  int64_t parsed;
  if (*k + 1 >= arguments.size() || !ParseDecimal(arguments[*k + 1], low, high, &parsed)) return false;
  ++*k;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseGrid(const std::string& value, Options* options) {
  const size_t x = value.find_first_of("xX");
  int64_t columns, rows;
  if (x == std::string::npos || !ParseDecimal(value.substr(0, x), 1, 65535, &columns) ||
      !ParseDecimal(value.substr(x + 1), 1, 65535, &rows)) {
    return false;
  }
  options->columns = static_cast<uint32_t>(columns), options->rows = static_cast<uint32_t>(rows);
  return true;
}

// The options, wherever they stand (`--` ends them), and the operands; what
// is wrong with them, or nothing.
std::string ParseArguments(const std::vector<std::string>& arguments, Options* options,
                           std::vector<std::string>* operands) {
  for (size_t k = 0; k < arguments.size(); ++k) {
    const std::string& argument = arguments[k];
    int32_t value;
    if (argument.size() < 2 || argument[0] != '-') {
      operands->push_back(argument);
    } else if (argument == "--") {
      operands->insert(operands->end(), arguments.begin() + static_cast<ptrdiff_t>(k) + 1, arguments.end());
      break;
    } else if (argument == "--grid") {
      if (k + 1 >= arguments.size() || !ParseGrid(arguments[++k], options)) {
        return "--grid takes columns and rows, each from 1 to 65535, as in --grid 8x2";
      }
      options->grid_given = true;
    } else if (argument == "--directions") {
      if (!OptionNumber(arguments, &k, 1, 6, &value) || (value != 1 && value != 6)) return "--directions takes 1 or 6";
      options->directions = static_cast<uint32_t>(value), options->directions_given = true;
    } else if (argument == "--fps") {
      if (!OptionNumber(arguments, &k, 0, 65535, &options->fps)) return "--fps takes a number from 0 to 65535";
    } else if (argument == "--action-frame") {
      if (!OptionNumber(arguments, &k, 0, 65535, &options->action_frame)) {
        return "--action-frame takes a frame from 0 to 65535";
      }
    } else if (argument == "--shift") {
      if (!OptionNumber(arguments, &k, -32768, 32767, &options->shift_x) ||
          !OptionNumber(arguments, &k, -32768, 32767, &options->shift_y)) {
        return "--shift takes X and Y, each from -32768 to 32767";
      }
      options->shift_given = true;
    } else if (argument == "--crop") {
      options->crop = true;
    } else {
      return "no option " + argument + " for make";
    }
  }
  if (operands->empty()) return "make takes OUT.frm first, then its inputs";
  const std::string& out = (*operands)[0];
  const size_t dot = out.rfind('.');
  std::string ending = dot == std::string::npos ? "" : out.substr(dot + 1);
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  if (ending != "frm" &&
      !(ending.size() == 3 && ending.compare(0, 2, "fr") == 0 && ending[2] >= '0' && ending[2] <= '5')) {
    return "make takes OUT first, ending in .frm or .fr0 to .fr5, then its inputs: " + out + " is no FRM name";
  }
  if (operands->size() < 2) return "make takes its inputs after " + out;
  return "";
}

}  // namespace

int RunMake(const std::vector<std::string>& arguments) {
  Maker maker = {};
  std::vector<std::string> operands;
  const std::string wrong = ParseArguments(arguments, &maker.options, &operands);
  if (!wrong.empty()) return UsageError(wrong);
  maker.out = operands[0];
  maker.all_gifs = true;
  maker.first_delay = -1;

  MakeInputs inputs;
  FrameList list;
  try {
    ExpandInputs({operands.begin() + 1, operands.end()}, &inputs, &maker.blame);
    if (!inputs.list.empty()) {
      maker.blame = inputs.list;
      list = ParseFrameList(ReadList(inputs.list));
      if (maker.options.action_frame < 0 && list.action_frame >= static_cast<int32_t>(list.frames_per_direction)) {
        ThrowProblem("line " + Number(list.action_line) + ": action frame " + Number(list.action_frame) +
                     " is past the last frame, " + Number(list.frames_per_direction - 1));
      }
    }
  } catch (const FileProblem& problem) {
    ReportFileProblem(maker.blame, problem);
    return 2;
  }
  const Options& options = maker.options;
  if (!inputs.list.empty() && (options.crop || options.grid_given || options.directions_given || options.shift_given)) {
    return UsageError("--crop, --grid, --directions and --shift don't go with " + inputs.list +
                      ", which says how the frames are made");
  }
  std::vector<std::string> read = inputs.files;
  if (!inputs.list.empty()) read.push_back(inputs.list);
  for (const ListedDirection& direction : list.directions) {
    for (const ListedFrame& frame : direction.frames) {
      if (!frame.name.empty()) read.push_back(inputs.list_folder + frame.name);
    }
  }
  // Only an OUT that is there already can be one of them: a new one costs
  // no look at each of a thousand inputs.
  const bool out_exists = FileSameAs(maker.out.c_str(), maker.out.c_str());
  for (const std::string& name : read) {
    if (out_exists && FileSameAs(maker.out.c_str(), name.c_str())) {
      return UsageError("OUT " + maker.out + " is the input " + name + " itself; give make another file to write");
    }
  }

  try {
    maker.blame = maker.out;
    if (uint32_t error = FileCheckReplaceable(maker.out.c_str())) StopWithCode(error);
    if (uint32_t error = FileCreateTemporary(maker.out.c_str(), &maker.output)) StopWithCode(error);
    uint8_t bytes[kFrmHeaderSize] = {};
    WriteOut(&maker, bytes, sizeof bytes);
    const FrmHeader header =
        inputs.list.empty() ? MakeFromFiles(&maker, inputs.files) : MakeFromList(&maker, list, inputs.list_folder);
    StoreFrmHeader(header, bytes);
    SeekOut(&maker, 0);
    WriteOut(&maker, bytes, sizeof bytes);
    if (uint32_t error = FileClose(maker.output)) StopWithCode(error);
    if (uint32_t error = FileReplaceWithTemporary(maker.out.c_str())) StopWithCode(error);
    const uint32_t directions =
        inputs.list.empty() ? options.directions : static_cast<uint32_t>(list.directions.size());
    std::printf("%s: %s of %s, %u fps\n", maker.out.c_str(), Counted(directions, "direction").c_str(),
                Counted(header.frames_per_direction, "frame").c_str(), static_cast<unsigned>(header.fps));
  } catch (const FileProblem& problem) {
    ReportFileProblem(maker.blame, problem);
    return 2;
  }
  return 0;
}
