// Colour-mapped TGA pictures, as paint programs save them. The file:
//
//   header     id-length:1 map-type:1 image-type:1 map-first:2 map-length:2
//              map-entry-bits:1 x:2 y:2 width:2 height:2 depth:1
//              descriptor:1, little-endian
//   image id   id-length bytes
//   colour map map-length entries of map-entry-bits, whole bytes each; only
//              when map-type is 1
//   pixels     width x height indices of one byte: as they are (image type
//              1) or in packets (image type 9):
//                1nnnnnnn v       n + 1 copies of index v
//                0nnnnnnn v ...   n + 1 indices as they are
//              Packets run on across rows.
//   descriptor bit 5 set: the top row first, else the bottom row first; bit
//              4 set: each row runs right to left
//
// What converts: image types 1 and 9 with a depth of 8 bits. Truecolour and
// greyscale pictures (types 2, 3, 10, 11) have no indices. The image id and
// colour map are passed over: a frame holds indices, so the palette is not
// read. Only tessera-palette, which asks for it, reads the map: its first
// entry is index map-first; 24- and 32-bit entries are blue, green, red
// (alpha ignored), 15- and 16-bit ones 5 bits a channel, red highest. The
// origin and the descriptor's other bits mean nothing to a frame. Indices a
// packet has past the picture's last pixel are dropped, and nothing after the
// byte that completes the picture is read.
//
// Full colours, which only tessera-palette reads (ReadTgaColours): image
// types 2 (as stored) and 10 (in packets, whose values are whole pixels) at
// 24 or 32 bits, blue, green, red and alpha; alpha 0 is transparent unless
// every pixel has it.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/decode.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// The header's fields.
struct TgaHeader {
  uint32_t id_length, map_type, type, map_first, map_length, entry_bytes, width, height, depth;
  bool top_down, right_to_left;
};

TgaHeader ParseHeader(const uint8_t* start, uint32_t got) {
  if (got < 18) StopWithCode(kShortRead);
  return {start[0],
          start[1],
          start[2],
          LoadLittle16(start + 3),
          LoadLittle16(start + 5),
          (start[7] + 7u) / 8,
          LoadLittle16(start + 12),
          LoadLittle16(start + 14),
          start[16],
          (start[17] & 0x20) != 0,
          (start[17] & 0x10) != 0};
}

// Reads the colour map of `length` entries of `entry_bytes` into `palette`;
// entries past index 255 are passed over.
void ReadColourMap(ByteStream* stream, uint32_t first, uint32_t length, uint32_t entry_bytes, Palette* palette) {
  *palette = {std::min(first, 256u), std::min(first + length, 256u), entry_bytes == 2 ? 5u : 8u, {}, {}};
  for (uint32_t index = first; index < first + length; ++index) {
    uint8_t entry[4];
    if (!ReadBytes(stream, entry, entry_bytes)) StopWithCode(kShortRead);
    if (index >= 256) continue;
    uint8_t* colour = palette->colours[index];
    if (entry_bytes == 2) {
      const uint32_t value = LoadLittle16(entry);
      for (int channel = 0; channel < 3; ++channel) {
        const uint32_t v = value >> (10 - 5 * channel) & 31;
        colour[channel] = static_cast<uint8_t>(v << 3 | v >> 2);
      }
    } else {
      colour[0] = entry[2], colour[1] = entry[1], colour[2] = entry[0];
    }
  }
}

// Starts reading at the byte after the header and passes over the image id
// and the colour map; a map of 2- to 4-byte entries goes into `palette` when
// there is one.
void PassHeader(ByteStream* stream, FileHandle input, const uint8_t* start, uint32_t got, const TgaHeader& header,
                Palette* palette) {
  StartStream(stream, input, start + got, 0);
  const uint64_t map_size = header.map_type == 1 ? uint64_t{header.map_length} * header.entry_bytes : 0;
  if (palette == nullptr || header.map_type != 1 || header.entry_bytes < 2 || header.entry_bytes > 4) {
    if (!SkipBytes(stream, header.id_length + map_size)) StopWithCode(kShortRead);
  } else {
    if (!SkipBytes(stream, header.id_length)) StopWithCode(kShortRead);
    ReadColourMap(stream, header.map_first, header.map_length, header.entry_bytes, palette);
  }
}

}  // namespace

Picture ReadTga(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  const TgaHeader header = ParseHeader(start, got);
  if ((header.type != 1 && header.type != 9) || header.depth != 8) StopWithCode(kUnsupportedBitmap);
  const uint32_t width = header.width, height = header.height;
  const bool top_down = header.top_down;
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  if (width == 0 || height == 0) return {width, height, nullptr, width, top_down, nullptr};
  const uint64_t size = uint64_t{width} * height;
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);

  ByteStream stream;
  PassHeader(&stream, input, start, got, header, palette);
  const uint32_t type = header.type;
  if (type == 1) {
    if (!ReadBytes(&stream, pixels, size)) StopWithCode(kShortRead);
  } else {
    for (uint64_t at = 0; at < size;) {
      uint8_t head;
      if (!NextByte(&stream, &head)) StopWithCode(kShortRead);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>((head & 0x7F) + 1, size - at));
      if (head & 0x80) {
        uint8_t index;
        if (!NextByte(&stream, &index)) StopWithCode(kShortRead);
        std::memset(pixels + at, index, count);
      } else if (!ReadBytes(&stream, pixels + at, count)) {
        StopWithCode(kShortRead);
      }
      at += count;
    }
  }
  if (header.right_to_left) {
    for (uint32_t row = 0; row < height; ++row)
      std::reverse(pixels + uint64_t{row} * width, pixels + (row + 1ull) * width);
  }
  return {width, height, pixels, width, top_down, pixels};
}

Picture ReadTgaColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  const TgaHeader header = ParseHeader(start, got);
  if ((header.type != 2 && header.type != 10) || (header.depth != 24 && header.depth != 32)) {
    StopWithCode(kUnreadColours);
  }
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  const uint32_t width = header.width, height = header.height, size = header.depth / 8;
  const uint64_t count = uint64_t{width} * height;
  if (count * 4 >= kBlockLimit) StopWithCode(kOutOfMemory);
  Picture picture = {width, height, nullptr, width * 4, header.top_down, nullptr, true};
  if (count == 0) return picture;
  ByteStream stream;
  PassHeader(&stream, input, start, got, header, nullptr);
  // The pixels are committed only once the first of them is there.
  uint8_t first;
  if (!NextByte(&stream, &first)) StopWithCode(kShortRead);
  --stream.next;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(count * 4));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  uint8_t value[4] = {};
  for (uint64_t at = 0; at < count;) {
    uint32_t run = 1;
    bool repeated = false;
    if (header.type == 10) {
      uint8_t head;
      if (!NextByte(&stream, &head)) StopWithCode(kShortRead);
      run = static_cast<uint32_t>(std::min<uint64_t>((head & 0x7F) + 1u, count - at));
      repeated = head & 0x80;
    }
    for (uint32_t k = 0; k < run; ++k, ++at) {
      if ((k == 0 || !repeated) && !ReadBytes(&stream, value, size)) StopWithCode(kShortRead);
      uint8_t* pixel = pixels + 4 * at;
      pixel[0] = value[2], pixel[1] = value[1], pixel[2] = value[0];
      pixel[3] = size == 4 && value[3] == 0 ? 0 : 255;
    }
  }
  if (size == 4) ClearUnusedAlpha(pixels, count);
  if (header.right_to_left) {
    for (uint32_t row = 0; row < height; ++row) {
      uint32_t* line = reinterpret_cast<uint32_t*>(pixels) + uint64_t{row} * width;
      std::reverse(line, line + width);
    }
  }
  picture.rows = pixels;
  picture.block = pixels;
  return picture;
}
