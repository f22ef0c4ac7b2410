// zlib's memory for the one stream a reader inflates at a time (its state and
// 32 KiB window), from a fixed arena rather than the heap, so that a stop,
// which may come at any point, leaves nothing to free.
#ifndef TESSERA_CONVERT_ZLIB_ARENA_H_
#define TESSERA_CONVERT_ZLIB_ARENA_H_

#include <zlib.h>

// Makes `stream` a new inflating stream whose memory is the arena's; whatever
// an earlier stream held there is no longer used. False when zlib refuses.
bool StartArenaInflate(z_stream* stream);

#endif  // TESSERA_CONVERT_ZLIB_ARENA_H_
