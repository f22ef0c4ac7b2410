// Indexed PNGs: see png_writer.h for the file.
#include "common/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/problem.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

void StoreBig32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24), bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8), bytes[3] = static_cast<uint8_t>(value);
}

// One chunk: length, type, data and the CRC-32 of type and data.
void WriteChunk(FileHandle output, const char* type, const uint8_t* data, uint32_t size) {
  uint8_t head[8];
  StoreBig32(head, size);
  std::memcpy(head + 4, type, 4);
  uint8_t crc[4];
  StoreBig32(crc, static_cast<uint32_t>(crc32(crc32(0, head + 4, 4), size > 0 ? data : head, size)));
  WriteBytes(output, head, sizeof head);
  if (size > 0) WriteBytes(output, data, size);
  WriteBytes(output, crc, sizeof crc);
}

}  // namespace

PackedFrame PackRows(const uint8_t* raw, uint64_t raw_size, uint32_t width, uint32_t height, uint32_t largest,
                     int level) {
  const uLong bound = compressBound(static_cast<uLong>(raw_size));
  if (raw_size >= kBlockLimit || bound >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* packed = static_cast<uint8_t*>(AllocateBlock(bound));
  if (packed == nullptr) StopWithCode(kOutOfMemory);
  uLongf packed_size = bound;
  if (compress2(packed, &packed_size, raw, static_cast<uLong>(raw_size), level) != Z_OK) StopWithCode(kOutOfMemory);
  return {width, height, largest, packed, static_cast<uint32_t>(packed_size)};
}

void WriteIndexedPng(const char* png_name, const PackedFrame& frame, const Palette& palette, const PngExtras& extras) {
  uint8_t ihdr[13] = {};
  StoreBig32(ihdr, frame.width);
  StoreBig32(ihdr + 4, frame.height);
  ihdr[8] = 8;  // bits an index
  ihdr[9] = 3;  // indexed colour
  uint8_t plte[256][3] = {};
  const uint32_t entries = std::max(palette.count, frame.largest + 1);
  for (uint32_t index = palette.first; index < palette.count; ++index)
    std::memcpy(plte[index], palette.colours[index], 3);

  FileHandle output;
  if (uint32_t error = FileCheckReplaceable(png_name)) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(png_name, &output)) StopWithCode(error);
  WriteBytes(output, "\x89PNG\r\n\x1A\n", 8);
  WriteChunk(output, "IHDR", ihdr, sizeof ihdr);
  WriteChunk(output, "PLTE", &plte[0][0], entries * 3);
  const uint8_t clear_alpha = 0;  // index 0's; the indices after it stay opaque
  if (extras.clear_zero) WriteChunk(output, "tRNS", &clear_alpha, 1);
  if (extras.comment != nullptr) {
    std::string text = std::string("Comment") + '\0' + extras.comment;
    WriteChunk(output, "tEXt", reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  }
  WriteChunk(output, "IDAT", frame.packed, frame.packed_size);
  WriteChunk(output, "IEND", nullptr, 0);
  ReleaseBlock(frame.packed);
  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(png_name)) StopWithCode(error);
}
