#include "convert/pack_bits.h"

#include <algorithm>
#include <cstring>

bool UnpackBits(PackBits* packed, uint8_t* out, uint64_t count) {
  while (count > 0) {
    if (packed->left == 0) {
      uint8_t head;
      if (packed->budget == 0 || !NextByte(packed->stream, &head)) return false;
      --packed->budget;
      if (head == 128) continue;
      packed->repeat = head > 128;
      packed->left = packed->repeat ? 257u - head : head + 1u;
      if (packed->repeat) {
        if (packed->budget == 0 || !NextByte(packed->stream, &packed->value)) return false;
        --packed->budget;
      }
    }
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(packed->left, count));
    if (packed->repeat) {
      std::memset(out, packed->value, take);
    } else {
      if (packed->budget < take || !ReadBytes(packed->stream, out, take)) return false;
      packed->budget -= take;
    }
    out += take;
    count -= take;
    packed->left -= take;
  }
  return true;
}
