// PackBits, the run-length code of PSD's RLE image data and of IFF's
// ByteRun1: a byte n, then
//
//   0 to 127     n + 1 bytes as they are
//   129 to 255   the next byte, 257 - n times
//   128          nothing
//
// Runs go on from one call to the next, so they may cross rows and planes.
#ifndef TESSERA_CONVERT_PACK_BITS_H_
#define TESSERA_CONVERT_PACK_BITS_H_

#include <cstdint>

#include "convert/byte_stream.h"

struct PackBits {
  ByteStream* stream;
  uint64_t budget;  // bytes of the stream that may still be read
  uint32_t left;    // bytes of the current run still to come
  bool repeat;      // the run repeats `value`, else it copies bytes
  uint8_t value;
};

// Unpacks the next `count` bytes into `out`; false when the stream or its
// budget ends first. What a run holds past them waits for the next call.
bool UnpackBits(PackBits* packed, uint8_t* out, uint64_t count);

#endif  // TESSERA_CONVERT_PACK_BITS_H_
