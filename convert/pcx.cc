// PCX pictures of palette indices. The file:
//
//   header     128 bytes: 0x0A version:1 encoding:1 bits:1 xmin:2 ymin:2
//              xmax:2 ymax:2, little-endian, ... planes:1 at byte 65,
//              bytes-per-line:2 at byte 66; the picture is xmax - xmin + 1
//              pixels wide and ymax - ymin + 1 high
//   scan lines one a row, top row first: for each plane in turn,
//              bytes-per-line bytes, the pixels packed `bits` each, leftmost
//              in the most significant bits; bytes past the width pad it
//   encoding 0 the scan lines as they are
//   encoding 1 runs: a byte 11nnnnnn is a count, n copies (none for 0) of
//              the byte after it; any other byte stands for itself. Runs go
//              on across scan lines.
//
// What converts: 1, 2, 4 or 8 bits in one plane, and 1 bit in 2, 3 or 4
// planes, where a pixel's index takes bit p from plane p. Three or four
// planes of 8 bits are truecolour, with no indices. The 16-colour table in
// the header and the 256-colour table after the scan lines are not read: a
// frame holds indices, so the palette is not read. Only tessera-palette, which
// asks for it, reads the palette (ReadPcxPalette): with 8 bits the 256-colour
// table that follows a 0x0C byte 769 bytes before the end of the file, with
// fewer the first 2^(bits x planes) entries of the header's table. The
// picture is complete with its last scan line, padding included; nothing
// after it is read.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/decode.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

void ReadPcxPalette(FileHandle input, const uint8_t header[128], Palette* palette) {
  const uint32_t depth = header[3] * header[65];
  *palette = {0, 0, 8, {}, {}};
  if (depth < 8) {
    palette->count = 1u << depth;
    std::memcpy(palette->colours, header + 16, palette->count * 3);
    return;
  }
  uint64_t file_size;
  if (uint32_t error = FileSize(input, &file_size)) StopWithCode(error);
  if (file_size < 128 + 769 || file_size - 769 > INT32_MAX) return;
  uint8_t table[769];
  uint32_t done;
  if (uint32_t error = FileSeek(input, static_cast<int32_t>(file_size - 769))) StopWithCode(error);
  if (uint32_t error = FileRead(input, table, sizeof table, &done)) StopWithCode(error);
  if (done != sizeof table) StopWithCode(kShortRead);
  if (table[0] != 0x0C) return;
  palette->count = 256;
  std::memcpy(palette->colours, table + 1, 768);
}

}  // namespace

Picture ReadPcx(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  StartStream(&stream, input, start, got);
  uint8_t header[128];
  if (!ReadBytes(&stream, header, sizeof header)) StopWithCode(kShortRead);
  const bool runs = header[2] == 1;
  const uint32_t bits = header[3], planes = header[65], line_bytes = LoadLittle16(header + 66);
  const uint32_t xmin = LoadLittle16(header + 4), ymin = LoadLittle16(header + 6);
  const uint32_t xmax = LoadLittle16(header + 8), ymax = LoadLittle16(header + 10);
  if (!(planes == 1 || (bits == 1 && planes >= 2 && planes <= 4))) StopWithCode(kUnsupportedBitmap);
  if (xmax < xmin || ymax < ymin) StopWithCode(kUnsupportedBitmap);
  const uint32_t width = xmax - xmin + 1, height = ymax - ymin + 1;
  if (width > 65535 || height > 65535 || line_bytes * 8ull < uint64_t{width} * bits) {
    StopWithCode(kUnsupportedBitmap);
  }
  const uint64_t size = uint64_t{width} * height;
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  // The picture, and after it the scan line being read.
  const uint32_t line_size = planes * line_bytes;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size + line_size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  uint8_t* line = pixels + size;

  uint32_t run = 0;  // copies of `value` still to come
  uint8_t value = 0;
  for (uint32_t y = 0; y < height; ++y) {
    if (!runs) {
      if (!ReadBytes(&stream, line, line_size)) StopWithCode(kShortRead);
    } else {
      for (uint32_t at = 0; at < line_size;) {
        if (run == 0) {
          if (!NextByte(&stream, &value)) StopWithCode(kShortRead);
          run = 1;
          if ((value & 0xC0) == 0xC0) {
            run = value & 0x3F;
            if (!NextByte(&stream, &value)) StopWithCode(kShortRead);
          }
        }
        uint32_t count = std::min(run, line_size - at);
        std::memset(line + at, value, count);
        at += count;
        run -= count;
      }
    }
    uint8_t* row = pixels + uint64_t{y} * width;
    if (planes == 1) {
      ExpandRow(line, bits, width, row);
    } else {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t index = 0;
        for (uint32_t plane = 0; plane < planes; ++plane) {
          index |= static_cast<uint8_t>((line[plane * line_bytes + x / 8] >> (7 - x % 8) & 1) << plane);
        }
        row[x] = index;
      }
    }
  }
  if (palette != nullptr) ReadPcxPalette(input, header, palette);
  return {width, height, pixels, width, true, pixels};
}
