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

// Where an entry's string was last written in the output, its length, and
// its first 8 bytes (zeros past its end). Strings of up to 8 bytes, the most
// common, are written from the table alone: reading them back from output
// just written would wait on the stores that wrote it.
struct LzwEntry {
  uint64_t head;
  uint32_t start;
  uint32_t length;
};

// The table's bytes. A reader takes them in its picture's block, whose pages
// come mapped at once, rather than from static memory faulted in a page at a
// time.
constexpr uint32_t kLzwTableSize = 4096 * sizeof(LzwEntry);

enum LzwResult : uint32_t {
  kLzwComplete,   // the output is complete: the last code's string may reach past it, and is cut there
  kLzwEnd,        // the end code came before the output was complete
  kLzwUndefined,  // a code past the next free entry, or the next free code with no previous code
};

// `head` with `byte` after its first `length` bytes, when it has room.
inline uint64_t Extend(uint64_t head, uint32_t length, uint8_t byte) {
  return length < 8 ? head | uint64_t{byte} << 8 * length : head;
}

// Decodes codes into `out` until its `size` bytes are written or the codes go
// wrong, with `table` as the table. `next_code(width)` gives each code; `root_bits` is GIF's minimum
// code size, 8 for TIFF; `early` is 1 when the width grows one code early.
// The state lives in locals here, so that the stores into the output, which
// may alias anything, don't make the compiler reload it at every code.
template <typename NextCode>
LzwResult DecodeLzw(LzwEntry* table, uint8_t* out, uint32_t size, uint32_t root_bits, uint32_t early,
                    NextCode next_code) {
  const uint32_t roots = 1u << root_bits, clear = roots, end = roots + 1;
  for (uint32_t code = 0; code < roots; ++code) table[code] = {code, 0, 1};
  uint32_t done = 0, width = root_bits + 1, next = roots + 2;
  uint32_t previous = 0, previous_length = 0;  // the previous code's output; none when its length is 0
  uint64_t previous_head = 0;
  for (;;) {
    const uint32_t code = next_code(width), room = size - done;
    uint64_t head;
    uint32_t from, length;                  // the string is `length` bytes written from `from`; its first 8 are `head`
    if (code < next && code - clear > 1) {  // a root or an entry: neither clear nor end
      const LzwEntry& entry = table[code];
      head = entry.head, from = entry.start, length = entry.length;
    } else if (code == clear) {
      next = roots + 2;
      width = root_bits + 1;
      previous_length = 0;
      continue;
    } else if (code == end) {
      return kLzwEnd;
    } else if (code == next && previous_length > 0) {  // the entry this code adds: the previous string and its head
      head = Extend(previous_head, previous_length, static_cast<uint8_t>(previous_head));
      from = previous, length = previous_length + 1;
    } else {
      return kLzwUndefined;
    }
    uint8_t* to = out + done;
    if (length + 8 <= room) {
      // Whole words: what is written past the string is written again by
      // the codes after it. Most strings are no longer than their head, so
      // most codes read nothing back from the output just written.
      std::memcpy(to, &head, 8);
      for (uint32_t at = 8; at < length; at += 8) {
        uint64_t word;
        std::memcpy(&word, out + from + at, 8);
        std::memcpy(to + at, &word, 8);
      }
    } else {
      const uint32_t count = length < room ? length : room;
      for (uint32_t at = 0; at < count; ++at) to[at] = at < 8 ? static_cast<uint8_t>(head >> 8 * at) : out[from + at];
      if (length >= room) return kLzwComplete;
    }
    if (previous_length > 0 && next < 4096) {
      table[next] = {Extend(previous_head, previous_length, static_cast<uint8_t>(head)), previous, previous_length + 1};
      if (++next + early == 1u << width && width < 12) ++width;
    }
    previous = done, previous_length = length, previous_head = head;
    done += length;
  }
}

#endif  // TESSERA_CONVERT_LZW_H_
