#include "convert/zlib_arena.h"

#include <cstddef>
#include <cstdint>

namespace {

alignas(16) uint8_t arena[64 << 10];
size_t used;

voidpf ArenaAllocate(voidpf, uInt items, uInt size) {
  uint64_t bytes = (uint64_t{items} * size + 15) / 16 * 16;
  if (bytes > sizeof arena - used) return Z_NULL;
  void* block = arena + used;
  used += bytes;
  return block;
}

void ArenaFree(voidpf, voidpf) {}

}  // namespace

bool StartArenaInflate(z_stream* stream) {
  used = 0;
  *stream = {};
  stream->zalloc = ArenaAllocate;
  stream->zfree = ArenaFree;
  return inflateInit(stream) == Z_OK;
}
