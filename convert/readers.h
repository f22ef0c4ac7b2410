// The readers of the picture formats tessera converts. ConvertBitmap opens
// "vantrel.tmp", reads its first bytes and picks the reader by them; the
// reader decodes the picture into memory, or stops the program, and hands it
// back; ConvertBitmap writes the frame. A reader knows nothing of frames.
#ifndef TESSERA_CONVERT_READERS_H_
#define TESSERA_CONVERT_READERS_H_

#include <cstdint>

#include "platform/platform.h"

// Pixel data and pictures this large or larger are refused, as an allocator
// with 32-bit sizes and its own bookkeeping would refuse blocks for them.
constexpr uint64_t kBlockLimit = (uint64_t{1} << 31) - 7;

// Integers as the formats store them.
inline uint32_t LoadLittle16(const uint8_t* bytes) { return bytes[0] | bytes[1] << 8; }
inline uint32_t LoadLittle32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}
inline uint32_t LoadBig32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

// How many bytes of the file are read before a reader is picked: enough for
// every format's signature or header fields that tell it.
constexpr uint32_t kStartSize = 18;

// A decoded picture: `height` rows of `width` palette indices, `stride` bytes
// apart from `rows`, the top row first when `top_down`, else the bottom row
// first. `block` holds them and is released once they are written; an empty
// picture may have none.
struct Picture {
  uint32_t width;
  uint32_t height;
  const uint8_t* rows;
  uint32_t stride;
  bool top_down;
  void* block;
};

// A picture's own palette in stored order, for tessera-palette: entries
// `first` to `count` - 1 are the colours of those indices (TGA's colour map
// starts at an index of its own; elsewhere `first` is 0). No entries at all
// when the picture has no palette. Every channel is 8 bits; `bits` is the
// precision the file stored it with (5 for 15- and 16-bit TGA entries, scaled
// up as (v << 3) | (v >> 2)), and only that many high bits count. `clear`
// marks the indices whose pixels are transparent: a PNG's tRNS entries of
// alpha 0, a GIF's transparent index.
struct Palette {
  uint32_t first;
  uint32_t count;
  uint32_t bits;
  uint8_t colours[256][3];
  bool clear[256];
};

// Undoes a PNG row's filter in place, `step` bytes a pixel (1 for indices);
// `prior` is the row above, unfiltered (zeros above a pass's first row).
void UnfilterPngRow(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t size, uint32_t step);

// A reader is given the input and what the first read of kStartSize bytes
// delivered: `got` bytes of `start`. It reads the rest from the input. With a
// `palette` it also reads the picture's palette into it; without one (tessera)
// it reads exactly what the picture's indices need.
using Reader = Picture (*)(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);

// The reader for a file that starts with these bytes; a Windows bitmap when
// nothing else fits.
Reader PickReader(const uint8_t* start, uint32_t got);

Picture ReadBitmap(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPng(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadGif(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadTga(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPcx(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadTiff(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);

#endif  // TESSERA_CONVERT_READERS_H_
