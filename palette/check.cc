// check: every index a picture's pixels use must show the palette's colour at
// that index. Colours are compared at the lower precision of the two: 8 bits
// a channel, or the high 6 or 5 bits when either side stored only those.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

// A name as a command line takes it: quoted when it holds a space.
std::string Quoted(const char* name) {
  const std::string text(name);
  return text.find(' ') == std::string::npos ? text : '"' + text + '"';
}

// The OUT a suggested remap writes: the picture itself when remap writes its
// kind and nothing is lost, else a new PNG, which leaves the picture as it is.
std::string RemapOut(const char* name, bool lossless) {
  return lossless && IsRemapOutput(name) ? Quoted(name) : "OUT.png";
}

// How many distinct colours of the differing indices the palette holds at no
// index (compared as SameColour compares), an index past the picture's own
// palette counting as one.
uint32_t LackingColours(const Palette& own, const Palette& palette, const uint32_t* differing, uint32_t count) {
  const uint32_t shift = 8 - std::min(own.bits, palette.bits);
  uint32_t lacking = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* c = own.colours[differing[k]];
    bool found = false, counted = false;
    for (uint32_t index = palette.first; Defined(own, differing[k]) && !found && index < palette.count; ++index) {
      const uint8_t* p = palette.colours[index];
      found = c[0] >> shift == p[0] >> shift && c[1] >> shift == p[1] >> shift && c[2] >> shift == p[2] >> shift;
    }
    for (uint32_t j = 0; !found && j < k && !counted; ++j) {
      counted =
          Defined(own, differing[j]) && Defined(own, differing[k]) && std::memcmp(own.colours[differing[j]], c, 3) == 0;
    }
    if (!found && !counted) ++lacking;
  }
  return lacking;
}

// Whether the palette has every colour of a full-colour picture's opaque
// pixels, compared at the palette's precision: a binary search of its sorted
// colours, once for each run of one colour.
bool AllColoursThere(const Picture& colours, const Palette& palette) {
  const uint32_t shift = 8 - palette.bits;
  auto reduced = [shift](const uint8_t* c) {
    return uint32_t{c[0]} >> shift << 16 | uint32_t{c[1]} >> shift << 8 | uint32_t{c[2]} >> shift;
  };
  uint32_t keys[256], count = 0;
  for (uint32_t index = palette.first; index < palette.count; ++index) keys[count++] = reduced(palette.colours[index]);
  std::sort(keys, keys + count);
  uint32_t last = UINT32_MAX;
  for (uint32_t y = 0; y < colours.height; ++y) {
    const uint8_t* pixel = colours.rows + uint64_t{y} * colours.stride;
    for (uint32_t x = 0; x < colours.width; ++x, pixel += 4) {
      if (pixel[3] == 0) continue;  // transparent: --transparent says where it goes
      const uint32_t key = reduced(pixel);
      if (key == last) continue;
      if (!std::binary_search(keys, keys + count, key)) return false;
      last = key;
    }
  }
  return true;
}

}  // namespace

int CheckPicture(const char* name, const Palette& palette, const char* palette_name) {
  Palette own;
  const Picture picture = ReadPictureFile(name, &own);
  if (picture.colours) {
    const bool all_there = AllColoursThere(picture, palette);
    ReleaseBlock(picture.block);
    std::printf(
        "%s: full colour, not palette indices, which tessera refuses; tessera-palette remap %s%s %s %s brings it "
        "into the palette%s\n",
        name, all_there ? "" : "--nearest ", Quoted(palette_name).c_str(), Quoted(name).c_str(),
        RemapOut(name, false).c_str(), all_there ? "" : ", taking the nearest of the colours it lacks");
    return 1;
  }
  bool used[256] = {};
  for (uint32_t row = 0; picture.rows != nullptr && row < picture.height; ++row) {
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    for (uint32_t x = 0; x < picture.width; ++x) used[pixels[x]] = true;
  }
  ReleaseBlock(picture.block);

  if (own.count <= own.first) {
    std::printf("%s: no palette of its own to check; tessera-palette preview %s %s OUT.png shows the frame it gives\n",
                name, Quoted(palette_name).c_str(), Quoted(name).c_str());
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
  const uint32_t lacking = LackingColours(own, palette, differing, count);
  if (lacking == 0) {
    std::printf(
        "  every colour it uses is in the palette at another index: tessera-palette remap %s %s %s puts it "
        "in order without loss\n",
        Quoted(palette_name).c_str(), Quoted(name).c_str(), RemapOut(name, true).c_str());
  } else {
    std::printf("  the palette lacks %u of its colours: tessera-palette remap --nearest %s %s %s takes the nearest\n",
                lacking, Quoted(palette_name).c_str(), Quoted(name).c_str(), RemapOut(name, false).c_str());
  }
  return 1;
}
