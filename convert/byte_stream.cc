#include "convert/byte_stream.h"

#include <algorithm>
#include <cstring>

#include "frontend/stop.h"

namespace {

// One buffer for the run: a conversion reads one file.
uint8_t buffer[64 << 10];

}  // namespace

void StartStream(ByteStream* stream, FileHandle input, const uint8_t* start, uint32_t got) {
  std::memcpy(buffer, start, got);
  *stream = {input, buffer, buffer + got};
}

bool RefillStream(ByteStream* stream) {
  uint32_t done;
  if (uint32_t error = FileRead(stream->input, buffer, sizeof buffer, &done)) StopWithCode(error);
  stream->next = buffer;
  stream->end = buffer + done;
  return done > 0;
}

bool ReadBytes(ByteStream* stream, uint8_t* out, uint64_t count) {
  for (;;) {
    uint64_t held = std::min<uint64_t>(count, stream->end - stream->next);
    std::memcpy(out, stream->next, held);
    stream->next += held;
    out += held;
    count -= held;
    if (count == 0) return true;
    if (count >= sizeof buffer) {  // large enough to be read in place, in one piece
      uint32_t done;
      if (uint32_t error = FileRead(stream->input, out, static_cast<uint32_t>(count), &done)) StopWithCode(error);
      return done == count;
    }
    if (!RefillStream(stream)) return false;
  }
}

bool SkipBytes(ByteStream* stream, uint64_t count) {
  for (;;) {
    uint64_t held = std::min<uint64_t>(count, stream->end - stream->next);
    stream->next += held;
    count -= held;
    if (count == 0) return true;
    if (!RefillStream(stream)) return false;
  }
}
