// LZW decoding into memory, for GIF (gif.cc) and TIFF (tiff.cc). Each reads
// its codes its own way and hands them here one at a time.
//
// Codes below `roots` stand for themselves; `roots` is the clear code and
// `roots` + 1 the end of the data; the next free entry starts at `roots` + 2.
// Each code after the first adds an entry: the previous code's string and the
// first index of this code's string (for the next free code itself, of the
// previous code's string). At 4096 entries the table stops growing until a
// clear code. Codes start `root bits` + 1 wide and grow a bit when the next
// free entry reaches 2^width (GIF) or 2^width - 1 (TIFF, which widens one
// code early), up to 12 bits.
//
// The output is one block in the order the codes give it, kept whole: every
// string was written there before, so an entry keeps where its string was
// last written and its length, and a code is a copy of that earlier output.
// An entry's string is the previous code's output and the first byte after
// it, so a new entry needs no copy of its own.
#ifndef TESSERA_CONVERT_LZW_H_
#define TESSERA_CONVERT_LZW_H_

#include <cstdint>
#include <cstring>

struct Lzw {
  uint8_t* out;  // the output, `size` bytes
  uint32_t size;
  uint32_t done;   // bytes written
  uint32_t roots;  // the clear code
  uint32_t early;  // 1 when the width grows one code early
  uint32_t first_width;
  uint32_t width;                      // of the next code
  uint32_t next;                       // the next free entry
  uint32_t previous, previous_length;  // the previous code's output; no previous code when its length is 0
  uint32_t start[4096];
  uint16_t length[4096];
};

// Starts a stream that decodes into `out`, `size` bytes; `root_bits` is GIF's
// minimum code size, 8 for TIFF.
void StartLzw(Lzw* lzw, uint8_t* out, uint32_t size, uint32_t root_bits, bool early);

enum LzwStep : uint32_t {
  kLzwMore,       // the output wants more codes
  kLzwComplete,   // the output is complete: the code's string may reach past it, and is cut there
  kLzwEnd,        // the end code came before the output was complete
  kLzwUndefined,  // a code past the next free entry, or the next free code with no previous code
};

// Copies `count` bytes from `from` to `to`, which lies after all of them, in
// words where `room` (the bytes from `to` to the end of the output) allows
// writing up to 7 bytes past the count: those are written again later.
inline void CopyEarlier(uint8_t* to, const uint8_t* from, uint32_t count, uint32_t room) {
  if (count + 8 <= room) {
    for (uint32_t at = 0; at < count; at += 8) {
      uint64_t word;
      std::memcpy(&word, from + at, 8);
      std::memcpy(to + at, &word, 8);
    }
  } else {
    for (uint32_t at = 0; at < count; ++at) to[at] = from[at];
  }
}

// Decodes one code.
inline LzwStep TakeLzwCode(Lzw* lzw, uint32_t code) {
  const uint32_t at = lzw->done, room = lzw->size - at;
  uint32_t length;
  if (code < lzw->roots) {
    lzw->out[at] = static_cast<uint8_t>(code);
    length = 1;
  } else if (code < lzw->next && code > lzw->roots + 1) {
    length = lzw->length[code];
    CopyEarlier(lzw->out + at, lzw->out + lzw->start[code], length < room ? length : room, room);
  } else if (code == lzw->roots) {
    lzw->next = lzw->roots + 2;
    lzw->width = lzw->first_width;
    lzw->previous_length = 0;
    return kLzwMore;
  } else if (code == lzw->roots + 1) {
    return kLzwEnd;
  } else if (code == lzw->next && lzw->previous_length > 0) {  // the entry this code adds: previous string + its head
    length = lzw->previous_length + 1;
    const uint32_t copied = length < room ? length - 1 : room;
    CopyEarlier(lzw->out + at, lzw->out + lzw->previous, copied, room);
    if (length <= room) lzw->out[at + length - 1] = lzw->out[lzw->previous];
  } else {
    return kLzwUndefined;
  }
  if (length >= room) {
    lzw->done = lzw->size;
    return kLzwComplete;
  }
  if (lzw->previous_length > 0 && lzw->next < 4096) {
    lzw->start[lzw->next] = lzw->previous;
    lzw->length[lzw->next] = static_cast<uint16_t>(lzw->previous_length + 1);
    if (++lzw->next + lzw->early == 1u << lzw->width && lzw->width < 12) ++lzw->width;
  }
  lzw->previous = at;
  lzw->previous_length = length;
  lzw->done = at + length;
  return kLzwMore;
}

#endif  // TESSERA_CONVERT_LZW_H_
