// Turns pixel data that is not one byte per pixel into one palette index per
// byte: rows of packed 1-, 2- and 4-bit indices, and RLE8 and RLE4 streams.
#ifndef TESSERA_CONVERT_DECODE_H_
#define TESSERA_CONVERT_DECODE_H_

#include <cstddef>
#include <cstdint>

// Expands one stored row of `width` indices of `bits` bits each (1, 2, 4 or
// 8) into one byte each, placed `step` bytes apart from `pixels` (an
// interlaced pass fills every step-th pixel of a row). Within a byte the
// leftmost pixel is in the most significant bits.
void ExpandRow(const uint8_t* stored, uint32_t bits, uint32_t width, uint8_t* pixels, uint32_t step = 1);

// Decodes an RLE8 (`bits` 8) or RLE4 (`bits` 4) stream of `size` bytes into
// `pixels`, width x height bytes with the bottom row first, which must come
// zeroed: pixels the stream never sets stay index 0, pixels it places outside
// the picture are dropped. Returns false when the stream ends before its
// end-of-bitmap marker.
bool DecodeRle(const uint8_t* stream, size_t size, uint32_t bits, uint32_t width, uint32_t height, uint8_t* pixels);

// A full-colour picture of `count` pixels (red, green, blue, alpha) whose
// alpha is 0 in every pixel has no alpha at all: many writers leave that byte
// unused. Its pixels are made opaque.
void ClearUnusedAlpha(uint8_t* pixels, uint64_t count);

#endif  // TESSERA_CONVERT_DECODE_H_
