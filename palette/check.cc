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

// The next step a check names, as CheckPicture's `advice` asks.
struct Next {
  CheckAdvice advice;
  const char* palette_name;
  const char* name;
};

// The command of the next step: `words` ("remap --nearest") and the palette,
// the picture and `out`, "OUT.png" or, when remap writes the picture's kind
// and `in_place`, the picture itself. Without the names for kAdviceNone.
std::string Step(const Next& next, const char* words, bool in_place) {
  if (next.advice == kAdviceNone) return words;
  const bool always = next.advice == kAdviceOnly;
  const std::string out = in_place && IsRemapOutput(next.name) ? Quoted(next.name, always) : Quoted("OUT.png", always);
  return std::string(next.advice == kAdviceInline ? "tessera-palette " : "") + words + " " +
         Quoted(next.palette_name, always) + " " + Quoted(next.name, always) + " " + out;
}

// Ends a check of a picture that differs: its lines, or with kAdviceOnly the
// command alone.
int Differs(const Next& next, const std::string& lines, const std::string& step) {
  std::fputs((next.advice == kAdviceOnly ? step + "\n" : lines).c_str(), stdout);
  return 1;
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
      if (palette.no_colour[index]) continue;
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
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    if (!palette.no_colour[index]) keys[count++] = reduced(palette.colours[index]);
  }
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

std::string Quoted(const char* name, bool always) {
  const std::string text(name);
  return !always && text.find(' ') == std::string::npos ? text : '"' + text + '"';
}

int CheckPicture(const char* name, const Palette& palette, const char* palette_name, CheckAdvice advice) {
  const Next next = {advice, palette_name, name};
  Palette own;
  const Picture picture = ReadPictureFile(name, &own);
  if (picture.colours) {
    const bool all_there = AllColoursThere(picture, palette);
    ReleaseBlock(picture.block);
    const std::string step = Step(next, all_there ? "remap" : "remap --nearest", false);
    return Differs(next,
                   std::string(name) + ": full colour, not palette indices, which tessera refuses; " + step +
                       " brings it into the palette" +
                       (all_there ? "" : ", taking the nearest of the colours it lacks") + "\n",
                   step);
  }
  bool used[256] = {};
  for (uint32_t row = 0; picture.rows != nullptr && row < picture.height; ++row) {
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    for (uint32_t x = 0; x < picture.width; ++x) used[pixels[x]] = true;
  }
  ReleaseBlock(picture.block);

  if (own.count <= own.first) {
    const std::string step = Step(next, "preview", false);
    return Differs(
        next, std::string(name) + ": no palette of its own to check; " + step + " shows the frame it gives\n", step);
  }
  uint32_t differing[256];
  uint32_t count = 0;
  for (uint32_t index = 0; index < 256; ++index) {
    if (!used[index] || palette.no_colour[index]) continue;  // no colour to differ from
    if (!Defined(own, index) || !Defined(palette, index) || !SameColour(own, palette, index)) {
      differing[count++] = index;
    }
  }
  if (count == 0) {
    if (advice != kAdviceOnly) std::printf("%s: ok\n", name);
    return 0;
  }
  std::string lines =
      std::string(name) + ": " + std::to_string(count) + (count == 1 ? " index differs" : " indices differ") + "\n";
  for (uint32_t k = 0; k < std::min(count, 8u); ++k) {
    const uint32_t index = differing[k];
    char picture_colour[16], palette_colour[16];
    FormatColour(own, index, picture_colour);
    FormatColour(palette, index, palette_colour);
    lines += "  index " + std::to_string(index) + ": " + picture_colour + ", palette " + palette_colour + "\n";
  }
  const uint32_t lacking = LackingColours(own, palette, differing, count);
  if (lacking == 0) {
    const std::string step = Step(next, "remap", true);
    return Differs(next,
                   lines + "  every colour it uses is in the palette at another index: " + step +
                       " puts it in order without loss\n",
                   step);
  }
  const std::string step = Step(next, "remap --nearest", false);
  return Differs(
      next,
      lines + "  the palette lacks " + std::to_string(lacking) + " of its colours: " + step + " takes the nearest\n",
      step);
}
