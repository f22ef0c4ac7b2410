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

// A reader is given the input and what the first read of kStartSize bytes
// delivered: `got` bytes of `start`. It reads the rest from the input.
using Reader = Picture (*)(FileHandle input, const uint8_t* start, uint32_t got);

// The reader for a file that starts with these bytes; a Windows bitmap when
// nothing else fits.
Reader PickReader(const uint8_t* start, uint32_t got);

Picture ReadBitmap(FileHandle input, const uint8_t* start, uint32_t got);
Picture ReadPng(FileHandle input, const uint8_t* start, uint32_t got);
Picture ReadGif(FileHandle input, const uint8_t* start, uint32_t got);
Picture ReadTga(FileHandle input, const uint8_t* start, uint32_t got);
Picture ReadPcx(FileHandle input, const uint8_t* start, uint32_t got);

#endif  // TESSERA_CONVERT_READERS_H_
