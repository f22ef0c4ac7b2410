// The input read a byte at a time through a buffer, for the formats whose
// pixel data is a stream of codes or packets: GIF, TGA and PCX.
#ifndef TESSERA_CONVERT_BYTE_STREAM_H_
#define TESSERA_CONVERT_BYTE_STREAM_H_

#include <cstdint>

#include "platform/platform.h"

struct ByteStream {
  FileHandle input;
  const uint8_t* next;  // the next byte of the buffer
  const uint8_t* end;   // the end of what the buffer holds
};

// Starts the stream with the `got` bytes the first read delivered; what
// follows them comes from `input`.
void StartStream(ByteStream* stream, FileHandle input, const uint8_t* start, uint32_t got);

// Fills the buffer from the input; false at the end of the file. A read the
// system refuses stops the program with its error.
bool RefillStream(ByteStream* stream);

// The next byte, or false at the end of the file.
inline bool NextByte(ByteStream* stream, uint8_t* byte) {
  if (stream->next == stream->end && !RefillStream(stream)) return false;
  *byte = *stream->next++;
  return true;
}

// The next `count` bytes into `out`, through the buffer; what the buffer can't
// hold is read straight into `out` in one piece. False when the file ends
// before them.
bool ReadBytes(ByteStream* stream, uint8_t* out, uint64_t count);

// Passes over `count` bytes; false when the file ends before them.
bool SkipBytes(ByteStream* stream, uint64_t count);

#endif  // TESSERA_CONVERT_BYTE_STREAM_H_
