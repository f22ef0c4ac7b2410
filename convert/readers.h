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
inline uint32_t LoadBig16(const uint8_t* bytes) { return bytes[0] << 8 | bytes[1]; }
inline uint32_t LoadBig32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}
inline void StoreLittle16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value), bytes[1] = static_cast<uint8_t>(value >> 8);
}
inline void StoreLittle32(uint8_t* bytes, uint32_t value) {
  StoreLittle16(bytes, value);
  StoreLittle16(bytes + 2, value >> 16);
}
inline void StoreBig16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8), bytes[1] = static_cast<uint8_t>(value);
}
inline void StoreBig32(uint8_t* bytes, uint32_t value) {
  StoreBig16(bytes, value >> 16);
  StoreBig16(bytes + 2, value);
}

// How many bytes of the file are read before a reader is picked: enough for
// every format's signature or header fields that tell it.
constexpr uint32_t kStartSize = 18;

// How many bytes tessera-palette looks at to tell a full-colour picture:
// enough for PNG's colour type, a bitmap's bits per pixel and a PCX's planes.
constexpr uint32_t kHeadSize = 128;

// A decoded picture: `height` rows of `width` palette indices, `stride` bytes
// apart from `rows`, the top row first when `top_down`, else the bottom row
// first. `block` holds them and is released once they are written; an empty
// picture may have none. A full-colour reader's rows hold `colours` instead:
// red, green, blue and alpha a pixel, alpha 0 for a transparent pixel, else
// 255.
struct Picture {
  uint32_t width;
  uint32_t height;
  const uint8_t* rows;
  uint32_t stride;
  bool top_down;
  void* block;
  bool colours = false;
};

// A picture's own palette in stored order, for tessera-palette: entries
// `first` to `count` - 1 are the colours of those indices (TGA's colour map
// starts at an index of its own; elsewhere `first` is 0). No entries at all
// when the picture has no palette. Every channel is 8 bits; `bits` is the
// precision the file stored it with (5 for 15- and 16-bit TGA entries, scaled
// up as (v << 3) | (v >> 2)), and only that many high bits count. `clear`
// marks the indices whose pixels are transparent: a PNG's tRNS entries of
// alpha 0, a GIF's transparent index. `no_colour` marks entries that stand
// for no colour (in a palette file with lookup tables, an entry with a value
// above 63): no pixel is compared with one, none is mapped to one, and one
// shows black. No picture's own palette has any.
struct Palette {
  uint32_t first;
  uint32_t count;
  uint32_t bits;
  uint8_t colours[256][3];
  bool clear[256];
  bool no_colour[256] = {};
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

// Picks the full-colour reader for a picture whose indexed reader is
// `indexed` and whose first bytes are `got` bytes of `head` (kHeadSize when
// the file is that long), or nullptr when it holds indices. Only
// tessera-palette reads full colours: it hands this to ReadPicture, so tessera
// carries none of them.
using ColourPicker = Reader (*)(Reader indexed, const uint8_t* head, uint32_t got);
Reader PickColourReader(Reader indexed, const uint8_t* head, uint32_t got);

// Reads the picture `input` holds, from the file's first byte: its first
// bytes pick the reader, which reads the rest (or stops the program). With a
// `palette` the picture's own palette comes with it; with `pick_colours` a
// full-colour picture comes as colours instead of a stop with 201.
Picture ReadPicture(FileHandle input, Palette* palette, ColourPicker pick_colours);

Picture ReadBitmap(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPng(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadGif(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadTga(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPcx(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPsd(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadIff(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadTiff(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);

// The full-colour readers: 16-, 24- and 32-bit bitmaps; PNG colour types 0, 2,
// 4 and 6 at 8 or 16 bits; TGA types 2 and 10 at 24 or 32 bits; PCX of 3 or 4
// planes of 8 bits. A picture's
// `palette` is left empty: its pixels index none. A full-colour picture of
// another kind stops them with kUnreadColours, a code tessera never gives.
constexpr uint32_t kUnreadColours = 202;
Picture ReadBitmapColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPngColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadTgaColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);
Picture ReadPcxColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette);

#endif  // TESSERA_CONVERT_READERS_H_
