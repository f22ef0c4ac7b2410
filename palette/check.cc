// check: every index a picture's pixels use must show the palette's colour at
// that index. Colours are compared at the lower precision of the two: 8 bits
// a channel, or the high 6 or 5 bits when either side stored only those.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

bool Defined(const Palette& palette, uint32_t index) { return index >= palette.first && index < palette.count; }

bool SameColour(const Palette& a, const Palette& b, uint32_t index) {
  const uint32_t shift = 8 - std::min(a.bits, b.bits);
  for (int channel = 0; channel < 3; ++channel) {
    if (a.colours[index][channel] >> shift != b.colours[index][channel] >> shift) return false;
  }
  return true;
}

// The colour as "(r, g, b)", or "none" for an index the palette lacks.
void FormatColour(const Palette& palette, uint32_t index, char text[16]) {
  const uint8_t* c = palette.colours[index];
  if (Defined(palette, index)) {
    std::snprintf(text, 16, "(%u, %u, %u)", c[0], c[1], c[2]);
  } else {
    std::snprintf(text, 16, "none");
  }
}

}  // namespace

int CheckPicture(const char* name, const Palette& palette) {
  Palette own;
  const Picture picture = ReadPictureFile(name, &own);
  if (picture.colours) {
    ReleaseBlock(picture.block);
    std::printf("%s: no palette\n", name);
    return 1;
  }
  bool used[256] = {};
  for (uint32_t row = 0; picture.rows != nullptr && row < picture.height; ++row) {
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    for (uint32_t x = 0; x < picture.width; ++x) used[pixels[x]] = true;
  }
  ReleaseBlock(picture.block);

  if (own.count <= own.first) {
    std::printf("%s: no palette\n", name);
    return 1;
  }
  uint32_t differing[256];
  uint32_t count = 0;
  for (uint32_t index = 0; index < 256; ++index) {
    if (!used[index]) continue;
    if (!Defined(own, index) || !Defined(palette, index) || !SameColour(own, palette, index)) {
      differing[count++] = index;
    }
  }
  if (count == 0) {
    std::printf("%s: ok\n", name);
    return 0;
  }
  std::printf("%s: %u %s\n", name, count, count == 1 ? "index differs" : "indices differ");
  for (uint32_t k = 0; k < std::min(count, 8u); ++k) {
    const uint32_t index = differing[k];
    char picture_colour[16], palette_colour[16];
    FormatColour(own, index, picture_colour);
    FormatColour(palette, index, palette_colour);
    std::printf("  index %u: %s, palette %s\n", index, picture_colour, palette_colour);
  }
  return 1;
}
