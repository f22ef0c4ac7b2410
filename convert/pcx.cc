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
//
// Full colours, which only tessera-palette reads (ReadPcxColours): three
// planes of 8 bits, red, green and blue, or four with alpha, where 0 is
// transparent unless every pixel has it.
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

// The header's fields that say how the scan lines lie.
struct PcxHeader {
  uint8_t bytes[128];
  bool runs;
  uint32_t bits, planes, line_bytes, xmin, ymin, xmax, ymax;
};

void ReadHeader(ByteStream* stream, FileHandle input, const uint8_t* start, uint32_t got, PcxHeader* header) {
  StartStream(stream, input, start, got);
  if (!ReadBytes(stream, header->bytes, sizeof header->bytes)) StopWithCode(kShortRead);
  const uint8_t* bytes = header->bytes;
  header->runs = bytes[2] == 1;
  header->bits = bytes[3], header->planes = bytes[65], header->line_bytes = LoadLittle16(bytes + 66);
  header->xmin = LoadLittle16(bytes + 4), header->ymin = LoadLittle16(bytes + 6);
  header->xmax = LoadLittle16(bytes + 8), header->ymax = LoadLittle16(bytes + 10);
}

// Where the runs stand between scan lines: copies of `value` still to come.
struct Runs {
  uint32_t left;
  uint8_t value;
};

// Reads the next scan line, `line_size` bytes, into `line`.
void ReadScanLine(ByteStream* stream, const PcxHeader& header, uint8_t* line, uint32_t line_size, Runs* runs) {
  if (!header.runs) {
    if (!ReadBytes(stream, line, line_size)) StopWithCode(kShortRead);
    return;
  }
  for (uint32_t at = 0; at < line_size;) {
    if (runs->left == 0) {
      if (!NextByte(stream, &runs->value)) StopWithCode(kShortRead);
      runs->left = 1;
      if ((runs->value & 0xC0) == 0xC0) {
        runs->left = runs->value & 0x3F;
        if (!NextByte(stream, &runs->value)) StopWithCode(kShortRead);
      }
    }
    uint32_t count = std::min(runs->left, line_size - at);
    std::memset(line + at, runs->value, count);
    at += count;
    runs->left -= count;
  }
}

// The picture's size by its bounds, and a block for its pixels,
// `pixel_size` bytes each, with the scan line being read after them.
uint8_t* AllotPicture(const PcxHeader& header, uint32_t pixel_size, uint32_t* width, uint32_t* height, uint8_t** line) {
  if (header.xmax < header.xmin || header.ymax < header.ymin) StopWithCode(kUnsupportedBitmap);
  *width = header.xmax - header.xmin + 1, *height = header.ymax - header.ymin + 1;
  if (*width > 65535 || *height > 65535 || header.line_bytes * 8ull < uint64_t{*width} * header.bits) {
    StopWithCode(kUnsupportedBitmap);
  }
  const uint64_t size = uint64_t{*width} * *height * pixel_size;
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size + header.planes * header.line_bytes));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  *line = pixels + size;
  return pixels;
}

}  // namespace

Picture ReadPcx(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  PcxHeader header;
  ReadHeader(&stream, input, start, got, &header);
  const uint32_t bits = header.bits, planes = header.planes, line_bytes = header.line_bytes;
  if (!(planes == 1 || (bits == 1 && planes >= 2 && planes <= 4))) StopWithCode(kUnsupportedBitmap);
  uint32_t width, height;
  uint8_t* line;
  uint8_t* pixels = AllotPicture(header, 1, &width, &height, &line);
  const uint32_t line_size = planes * line_bytes;

  Runs runs = {0, 0};
  for (uint32_t y = 0; y < height; ++y) {
    ReadScanLine(&stream, header, line, line_size, &runs);
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
  if (palette != nullptr) ReadPcxPalette(input, header.bytes, palette);
  return {width, height, pixels, width, true, pixels};
}

Picture ReadPcxColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  ByteStream stream;
  PcxHeader header;
  ReadHeader(&stream, input, start, got, &header);
  const uint32_t planes = header.planes, line_bytes = header.line_bytes;
  if (header.bits != 8 || (planes != 3 && planes != 4)) StopWithCode(kUnreadColours);
  uint32_t width, height;
  uint8_t* line;
  uint8_t* pixels = AllotPicture(header, 4, &width, &height, &line);
  const uint32_t line_size = planes * line_bytes;
  Runs runs = {0, 0};
  for (uint32_t y = 0; y < height; ++y) {
    ReadScanLine(&stream, header, line, line_size, &runs);
    uint8_t* pixel = pixels + uint64_t{y} * width * 4;
    for (uint32_t x = 0; x < width; ++x, pixel += 4) {
      for (uint32_t plane = 0; plane < 3; ++plane) pixel[plane] = line[plane * line_bytes + x];
      pixel[3] = planes == 4 && line[3 * line_bytes + x] == 0 ? 0 : 255;
    }
  }
  if (planes == 4) ClearUnusedAlpha(pixels, uint64_t{width} * height);
  return {width, height, pixels, width * 4, true, pixels, true};
}
