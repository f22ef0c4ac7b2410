// Palettes stored as bytes.
//
//   RIFF PAL   "RIFF" size:4 "PAL ", then chunks id:4 size:4 data, each
//              padded to an even length, little-endian; the "data" chunk
//              holds version:2 count:2 and count entries of R G B flags
//   table      768 bytes: 256 entries of R G B. When no byte is above 63 they
//              are the 6-bit values of a VGA palette; --depth 6 or 8 says so
//              instead of the bytes
//   Adobe      772 bytes: 256 entries of R G B, then the count of colours
//              used and the transparent index, both 2 bytes big-endian (the
//              index says nothing about colours)
//   lookup     a table of 768 bytes of 6-bit values (--depth does not apply),
//              then a table of 32,768 bytes from 15-bit colours to indices
//              (33,536 bytes), or that table, "NEWC" and three more of
//              65,536 bytes (230,148); only the first 768 bytes are read. An
//              entry with a value above 63 is no colour, and shows black
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "palette/palette.h"

namespace {

uint32_t Byte(const std::string& bytes, size_t at) { return static_cast<uint8_t>(bytes[at]); }

uint32_t LoadLittle16(const std::string& bytes, size_t at) { return Byte(bytes, at) | Byte(bytes, at + 1) << 8; }

uint32_t LoadLittle32(const std::string& bytes, size_t at) {
  return LoadLittle16(bytes, at) | LoadLittle16(bytes, at + 2) << 16;
}

}  // namespace

bool ParseRiffPalette(const std::string& bytes, Palette* palette) {
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "PAL ") != 0) return false;
  for (uint64_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = LoadLittle32(bytes, at + 4);
    if (bytes.size() - at - 8 < size) ThrowProblem("cut short: a chunk runs past the end of the file");
    if (bytes.compare(at, 4, "data") != 0) {
      at += 8 + uint64_t{size} + size % 2;
      continue;
    }
    if (size < 4) ThrowProblem("a data chunk too short for its count");
    const uint32_t count = LoadLittle16(bytes, at + 10);
    if (count == 0 || count > 256) ThrowProblem("not a count of 1 to 256 colours: " + std::to_string(count));
    if (size < 4 + 4 * count)
      ThrowProblem("cut short: a data chunk too short for its " + std::to_string(count) + " colours");
    *palette = {0, count, 8, {}, {}};
    for (uint32_t k = 0; k < count; ++k) {
      for (int channel = 0; channel < 3; ++channel) {
        palette->colours[k][channel] = static_cast<uint8_t>(Byte(bytes, at + 12 + 4 * k + channel));
      }
    }
    return true;
  }
  ThrowProblem("a RIFF palette without a data chunk");
}

void ParseColourTable(const std::string& bytes, uint32_t depth, Palette* palette) {
  uint32_t count = 256;
  if (bytes.size() == 772) {
    count = Byte(bytes, 768) << 8 | Byte(bytes, 769);
    if (count == 0 || count > 256) ThrowProblem("not a count of 1 to 256 colours: " + std::to_string(count));
  }
  const bool lookup = bytes.size() > 772;
  uint32_t largest = 0;
  for (size_t at = 0; at < 768; ++at) largest = std::max(largest, Byte(bytes, at));
  if (bytes.size() == 768 && depth == 0) depth = largest <= 63 ? 6 : 8;
  if (lookup) depth = 6;
  if (depth == 6 && largest > 63 && !lookup) ThrowProblem("a byte above 63 in a table of 6-bit values");
  *palette = {0, count, depth == 6 ? 6u : 8u, {}, {}};
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* entry = reinterpret_cast<const uint8_t*>(bytes.data()) + 3 * k;
    palette->no_colour[k] = lookup && std::max({entry[0], entry[1], entry[2]}) > 63;
    for (int channel = 0; channel < 3 && !palette->no_colour[k]; ++channel) {
      const uint32_t v = entry[channel];
      palette->colours[k][channel] = static_cast<uint8_t>(depth == 6 ? v << 2 | v >> 4 : v);
    }
  }
}
