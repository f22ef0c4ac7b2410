// The readers of the picture formats tessera converts, and what they share.
// ConvertBitmap opens "vantrel.tmp" and the temporary output and picks the
// reader by the file's first bytes; the reader reads the picture and writes
// the whole frame, header and rows, or stops the program.
#ifndef TESSERA_CONVERT_READERS_H_
#define TESSERA_CONVERT_READERS_H_

#include <cstdint>

#include "platform/platform.h"

// Pixel data and pictures this large or larger are refused, as an allocator
// with 32-bit sizes and its own bookkeeping would refuse blocks for them.
constexpr uint64_t kBlockLimit = (uint64_t{1} << 31) - 7;

// A Windows bitmap. `file_header` holds what the first read of 14 bytes
// delivered: `got` bytes.
void ReadBitmap(FileHandle input, FileHandle output, const uint8_t file_header[14], uint32_t got);

// An indexed PNG, read from byte 8, after its signature.
void ReadPng(FileHandle input, FileHandle output);

// The 74-byte frame header for a picture of this size, in one write.
void WriteFrameHeader(FileHandle output, uint32_t width, uint32_t height);

// Writes the picture's rows top row first, `stride` bytes apart in `block`,
// which holds them bottom row first unless `top_down`: one write a row.
void WriteRows(FileHandle output, const uint8_t* block, uint32_t width, uint32_t height, uint32_t stride,
               bool top_down);

#endif  // TESSERA_CONVERT_READERS_H_
