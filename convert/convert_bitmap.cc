// Reads the bitmap that the calling script leaves as "vantrel.tmp": of its
// 14-byte file header only the pixel-data offset, of its information header
// the size, width, height, bits per pixel and compression. The pixel data is
// read in one piece and its rows written bottom row first (top row first for
// a top-down bitmap, which has a negative height), without their padding.
//
// The frame is written into a temporary file beside the output and moved onto
// the output's name only when complete, so a stop never leaves a damaged
// frame behind and never destroys an earlier good one.
#include "convert/convert_bitmap.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "convert/frame_header.h"
#include "convert/frame_name.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// Blocks this large or larger are refused, as an allocator with 32-bit sizes
// and its own bookkeeping would refuse them.
constexpr uint64_t kBlockLimit = (uint64_t{1} << 31) - 7;

uint32_t LoadLittle32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Uncompressed, one byte per pixel, and a size that the frame's 16-bit width
// and height fields hold.
bool FitsFrame(const uint8_t info_header[40]) {
  uint32_t header_size = LoadLittle32(info_header);
  int32_t width = static_cast<int32_t>(LoadLittle32(info_header + 4));
  int32_t height = static_cast<int32_t>(LoadLittle32(info_header + 8));
  uint32_t bits_per_pixel = info_header[14] | info_header[15] << 8;
  uint32_t compression = LoadLittle32(info_header + 16);
  if (bits_per_pixel != 8) return false;
  if (header_size >= 20 && compression != 0) return false;  // shorter headers hold no such field
  if (width < 0 || width > 65535) return false;
  return height != INT32_MIN && std::abs(height) <= 65535;
}

}  // namespace

void ConvertBitmap(std::string_view argument) {
  std::string name = MakeFrameName(argument);
  FileHandle input, output;
  if (uint32_t error = FileOpenExisting("vantrel.tmp", &input)) StopWithCode(error);
  if (uint32_t error = FileCheckReplaceable(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(name.c_str(), &output)) StopWithCode(error);

  uint8_t file_header[14];
  uint8_t info_header[40];
  uint32_t done;
  if (uint32_t error = FileRead(input, file_header, sizeof file_header, &done)) StopWithCode(error);
  if (done != sizeof file_header) StopWithCode(kShortRead);
  if (uint32_t error = FileRead(input, info_header, sizeof info_header, &done)) StopWithCode(error);
  if (done != sizeof info_header) StopWithCode(kShortRead);
  if (!FitsFrame(info_header)) StopWithCode(kUnsupportedBitmap);

  int32_t pixel_offset = static_cast<int32_t>(LoadLittle32(file_header + 10));
  if (uint32_t error = FileSeek(input, pixel_offset)) StopWithCode(error);

  uint32_t width = LoadLittle32(info_header + 4);
  int32_t stored_height = static_cast<int32_t>(LoadLittle32(info_header + 8));
  bool top_down = stored_height < 0;
  uint32_t height = static_cast<uint32_t>(std::abs(stored_height));
  FrameHeader header = kFrameHeaderTemplate;
  FillFrameHeader(&header, width, height);
  if (uint32_t error = FileWrite(output, &header, sizeof header, &done)) StopWithCode(error);
  if (done != sizeof header) StopWithCode(kShortWrite);

  uint32_t stride = (width + 3) / 4 * 4;
  uint64_t block_size = uint64_t{stride} * height;
  if (block_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  if (block_size > 0) {  // an empty image has no pixels to read or write
    uint8_t* block = static_cast<uint8_t*>(AllocateBlock(block_size));
    if (block == nullptr) StopWithCode(kOutOfMemory);
    if (uint32_t error = FileRead(input, block, static_cast<uint32_t>(block_size), &done)) StopWithCode(error);
    if (done != block_size) StopWithCode(kShortRead);
    for (uint32_t row = 0; row < height; ++row) {
      uint32_t stored_row = top_down ? row : height - 1 - row;
      if (uint32_t error = FileWrite(output, block + uint64_t{stored_row} * stride, width, &done)) StopWithCode(error);
      if (done != width) StopWithCode(kShortWrite);
    }
    ReleaseBlock(block);
  }

  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}
