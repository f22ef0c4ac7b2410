// Pixel data of fewer than 8 bits per pixel, and run-length encoded data.
//
// 1-, 2- and 4-bit rows pack 8, 4 or 2 indices into a byte, the leftmost pixel
// in the most significant bits; a stored row is padded to a multiple of 4
// bytes like any other.
//
// RLE8 (compression 1, 8 bits) and RLE4 (compression 2, 4 bits) store the
// picture as a stream of commands of two bytes or more, painted from the
// start of the bottom row, left to right and upwards:
//
//   n c        n > 0: a run of n pixels. RLE8: n times index c. RLE4: the
//              indices c >> 4 and c & 15 in turn, the high one first.
//   0 0        end of line: on to the start of the next row up
//   0 1        end of bitmap: nothing after it is read
//   0 2 dx dy  move dx pixels right and dy rows up
//   0 n        n >= 3: n literal pixels, one a byte (RLE8) or two a byte,
//              high nibble first (RLE4), padded to an even number of bytes
//
// A pixel the stream never sets keeps index 0. A pixel placed past the right
// edge of its row (it never wraps to the next) or above the top row is
// dropped, as encoders that code the row padding of odd widths rely on.
#include "convert/decode.h"

#include <algorithm>
#include <cstring>

void ExpandRow(const uint8_t* stored, uint32_t bits, uint32_t width, uint8_t* pixels, uint32_t step) {
  if (bits == 8 && step == 1) {
    std::memcpy(pixels, stored, width);
    return;
  }
  const uint32_t mask = (1u << bits) - 1;
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t bit = x * bits;
    pixels[uint64_t{x} * step] = static_cast<uint8_t>(stored[bit / 8] >> (8 - bits - bit % 8) & mask);
  }
}

bool DecodeRle(const uint8_t* stream, size_t size, uint32_t bits, uint32_t width, uint32_t height, uint8_t* pixels) {
  // The position only ever moves right and up, so it is held at the edges it
  // reaches: past either one nothing more is stored, and it can't wrap.
  uint32_t x = 0, y = 0;

  // Paints `count` pixels at the position, as many as its row has room for,
  // and moves past all of them. Pixel k comes from source[k * step] (RLE8) or
  // from the nibbles of source[k / 2 * step], high first (RLE4): a run has
  // step 0, so that all its pixels come from its one byte.
  auto paint = [&](const uint8_t* source, size_t step, uint32_t count) {
    uint32_t take = y < height ? std::min(count, width - x) : 0;
    if (take > 0) {
      uint8_t* out = pixels + size_t{y} * width + x;
      if (bits == 8 && step == 0) {
        std::memset(out, *source, take);
      } else if (bits == 8) {
        std::memcpy(out, source, take);
      } else {
        for (uint32_t k = 0; k < take; ++k) {
          uint8_t byte = source[k / 2 * step];
          out[k] = static_cast<uint8_t>(k % 2 == 0 ? byte >> 4 : byte & 15);
        }
      }
    }
    x = std::min(x + count, width);
  };

  size_t at = 0;
  while (size - at >= 2) {
    uint8_t count = stream[at];
    uint8_t value = stream[at + 1];
    at += 2;
    if (count > 0) {
      paint(&stream[at - 1], 0, count);
    } else if (value == 0) {  // end of line
      x = 0;
      y = std::min(y + 1, height);
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move
      if (size - at < 2) return false;
      x = std::min(x + stream[at], width);
      y = std::min(y + stream[at + 1], height);
      at += 2;
    } else {  // literal
      size_t bytes = bits == 8 ? value : (value + 1) / 2;
      if (size - at < bytes) return false;
      paint(&stream[at], 1, value);
      at += bytes + bytes % 2;
      if (at > size) return false;  // its padding is missing: nothing can follow
    }
  }
  return false;
}

void ClearUnusedAlpha(uint8_t* pixels, uint64_t count) {
  for (uint64_t at = 0; at < count; ++at) {
    if (pixels[4 * at + 3] != 0) return;
  }
  for (uint64_t at = 0; at < count; ++at) pixels[4 * at + 3] = 255;
}
