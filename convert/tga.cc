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
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

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

}  // namespace

Picture ReadTga(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  if (got < 18) StopWithCode(kShortRead);
  const uint8_t map_type = start[1], type = start[2], map_entry_bits = start[7], depth = start[16];
  const uint8_t descriptor = start[17];
  if ((type != 1 && type != 9) || depth != 8) StopWithCode(kUnsupportedBitmap);
  const uint32_t width = LoadLittle16(start + 12), height = LoadLittle16(start + 14);
  const bool top_down = descriptor & 0x20;
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  if (width == 0 || height == 0) return {width, height, nullptr, width, top_down, nullptr};
  const uint64_t size = uint64_t{width} * height;
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);

  ByteStream stream;
  StartStream(&stream, input, start + got, 0);
  const uint64_t map_size = map_type == 1 ? uint64_t{LoadLittle16(start + 5)} * ((map_entry_bits + 7) / 8) : 0;
  const uint32_t entry_bytes = (map_entry_bits + 7) / 8;
  if (palette == nullptr || map_type != 1 || entry_bytes < 2 || entry_bytes > 4) {
    if (!SkipBytes(&stream, start[0] + map_size)) StopWithCode(kShortRead);
  } else {
    if (!SkipBytes(&stream, start[0])) StopWithCode(kShortRead);
    ReadColourMap(&stream, LoadLittle16(start + 3), LoadLittle16(start + 5), entry_bytes, palette);
  }
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
  if (descriptor & 0x10) {
    for (uint32_t row = 0; row < height; ++row)
      std::reverse(pixels + uint64_t{row} * width, pixels + (row + 1ull) * width);
  }
  return {width, height, pixels, width, top_down, pixels};
}
