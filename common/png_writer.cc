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

// A chunk's length and type onto `file`; its data and then its CRC-32
// (EndChunk) follow.
void ChunkHead(std::string* file, const char* type, uint32_t size) {
  uint8_t head[8];
  StoreBig32(head, size);
  std::memcpy(head + 4, type, 4);
  file->append(reinterpret_cast<const char*>(head), sizeof head);
}

// The CRC-32 of a chunk's type and data, which ends it.
void EndChunk(std::string* file, const char* type, const uint8_t* data, uint32_t size) {
  uint8_t crc[4];
  StoreBig32(crc, static_cast<uint32_t>(crc32(crc32(0, reinterpret_cast<const Bytef*>(type), 4), data, size)));
  file->append(reinterpret_cast<const char*>(crc), sizeof crc);
}

// A whole chunk onto `file`.
void Chunk(std::string* file, const char* type, const uint8_t* data, uint32_t size) {
  ChunkHead(file, type, size);
  file->append(reinterpret_cast<const char*>(data), size);
  EndChunk(file, type, data, size);
}

// One compressor for the run, reset for each picture: a run that writes a
// thousand small PNGs sets up zlib's state once, not a thousand times.
z_stream packer;
int packer_level = -2;  // none yet

}  // namespace

PackedFrame PackRows(const uint8_t* raw, uint64_t raw_size, uint32_t width, uint32_t height, uint32_t largest,
                     int level) {
  const uLong bound = compressBound(static_cast<uLong>(raw_size));
  if (raw_size >= kBlockLimit || bound >= kBlockLimit) StopWithCode(kOutOfMemory);
  if (level != packer_level) {
    if (packer_level != -2) deflateEnd(&packer);
    packer = {};
    packer_level = -2;
    if (deflateInit(&packer, level) != Z_OK) StopWithCode(kOutOfMemory);
    packer_level = level;
  } else if (deflateReset(&packer) != Z_OK) {
    StopWithCode(kOutOfMemory);
  }
  uint8_t* packed = static_cast<uint8_t*>(AllocateBlock(bound));
  if (packed == nullptr) StopWithCode(kOutOfMemory);
  packer.next_in = const_cast<uint8_t*>(raw);
  packer.avail_in = static_cast<uInt>(raw_size);
  packer.next_out = packed;
  packer.avail_out = static_cast<uInt>(bound);
  if (deflate(&packer, Z_FINISH) != Z_STREAM_END) StopWithCode(kOutOfMemory);
  return {width, height, largest, packed, static_cast<uint32_t>(packer.total_out)};
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

  // Three writes: everything before the image data, the image data, and
  // the rest.
  std::string head = "\x89PNG\r\n\x1A\n", tail;
  Chunk(&head, "IHDR", ihdr, sizeof ihdr);
  Chunk(&head, "PLTE", &plte[0][0], entries * 3);
  const uint8_t clear_alpha = 0;  // index 0's; the indices after it stay opaque
  if (extras.clear_zero) Chunk(&head, "tRNS", &clear_alpha, 1);
  if (extras.comment != nullptr) {
    std::string text = std::string("Comment") + '\0' + extras.comment;
    Chunk(&head, "tEXt", reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  }
  ChunkHead(&head, "IDAT", frame.packed_size);
  EndChunk(&tail, "IDAT", frame.packed, frame.packed_size);
  Chunk(&tail, "IEND", ihdr, 0);  // no data

  FileHandle output;
  if (uint32_t error = FileCheckReplaceable(png_name)) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(png_name, &output)) StopWithCode(error);
  WriteBytes(output, head.data(), static_cast<uint32_t>(head.size()));
  WriteBytes(output, frame.packed, frame.packed_size);
  WriteBytes(output, tail.data(), static_cast<uint32_t>(tail.size()));
  ReleaseBlock(frame.packed);
  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(png_name)) StopWithCode(error);
}
