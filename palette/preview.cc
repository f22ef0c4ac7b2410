// preview: a frame as an indexed PNG, its pixels the frame's indices and its
// PLTE the palette; or a picture tessera converts, as the frame it will give.
// The frame must be one tessera writes: the 74-byte header of a single frame
// of its size, then exactly width x height indices; another FRM is sent to
// tessera-frm preview. The PNG is written beside
// its name and moved onto it once complete.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "convert/frame_header.h"
#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

// A picture tessera converts, read as tessera reads it, as the frame it
// would make of it: the same indices, the top row first.
PackedFrame ReadPictureAsFrame(const char* name) {
  const Picture picture = ReadPictureFile(name, nullptr);
  if (picture.colours) {
    ThrowProblem(
        "full colour, not palette indices, which tessera refuses; tessera-palette remap brings it into the "
        "palette, and preview shows what remap wrote");
  }
  if (picture.rows == nullptr || picture.width == 0 || picture.height == 0) {
    ThrowProblem("an empty picture, which a PNG can't hold");
  }
  const uint64_t raw_size = (uint64_t{picture.width} + 1) * picture.height;
  if (raw_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  std::vector<uint8_t> raw(raw_size);  // each row after its filter byte 0
  uint32_t largest = 0;
  for (uint32_t y = 0; y < picture.height; ++y) {
    const uint32_t row = picture.top_down ? y : picture.height - 1 - y;
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    std::memcpy(&raw[uint64_t{y} * (picture.width + 1) + 1], pixels, picture.width);
    for (uint32_t x = 0; x < picture.width; ++x) largest = std::max<uint32_t>(largest, pixels[x]);
  }
  ReleaseBlock(picture.block);
  return PackRows(raw.data(), raw_size, picture.width, picture.height, largest, Z_BEST_COMPRESSION);
}

}  // namespace

PackedFrame ReadFrame(const char* frame_name, const char* palette_name) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(frame_name, &input)) StopWithCode(error);
  uint64_t file_size;
  if (uint32_t error = FileSize(input, &file_size)) StopWithCode(error);
  FrameHeader header;
  uint32_t done;
  if (uint32_t error = FileRead(input, &header, sizeof header, &done)) StopWithCode(error);
  // A frame starts with its version, 4, as no picture tessera converts does:
  // a PNG, GIF, PCX, TIFF, PSD, IFF or bitmap has its signature there, and a
  // TGA would have
  // image type 0 (no image). Only a bitmap without "BM", which tessera reads
  // as a bitmap all the same, could start so, and is taken for a frame.
  if (done < 4 || std::memcmp(&header.version, &kFrameHeaderTemplate.version, 4) != 0) {
    if (uint32_t error = FileClose(input)) StopWithCode(error);
    return ReadPictureAsFrame(frame_name);
  }
  if (done != sizeof header) ThrowProblem("not a frame: shorter than the 74-byte header");
  const uint32_t width = SwapWord(header.width), height = SwapWord(header.height);
  FrameHeader expected = kFrameHeaderTemplate;
  FillFrameHeader(&expected, width, height);
  const uint64_t pixels = uint64_t{width} * height;
  // More frames, other fields set, or sizes that don't agree: tessera-frm
  // reads every FRM.
  if (std::memcmp(&header, &expected, sizeof header) != 0 || file_size != sizeof header + pixels) {
    ThrowProblem("not a single frame as tessera writes it; tessera-frm preview " + Quoted(palette_name) + " " +
                 Quoted(frame_name) + " OUT.gif shows it");
  }
  if (pixels == 0) ThrowProblem("an empty frame, which a PNG can't hold");

  // The rows as PNG filters them, each after its filter byte 0.
  const uint64_t raw_size = pixels + height;
  const uLong bound = compressBound(static_cast<uLong>(raw_size));
  if (raw_size >= kBlockLimit || bound >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* raw = static_cast<uint8_t*>(AllocateBlock(raw_size));
  if (raw == nullptr) StopWithCode(kOutOfMemory);
  uint32_t largest = 0;
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* line = raw + uint64_t{row} * (width + 1);
    if (uint32_t error = FileRead(input, line + 1, width, &done)) StopWithCode(error);
    if (done != width) StopWithCode(kShortRead);
    for (uint32_t x = 1; x <= width; ++x) largest = std::max<uint32_t>(largest, line[x]);
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
  const PackedFrame frame = PackRows(raw, raw_size, width, height, largest, Z_BEST_COMPRESSION);
  ReleaseBlock(raw);
  return frame;
}
