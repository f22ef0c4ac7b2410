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

// How many bytes of a picture are looked at to tell a full-colour one: enough
// for PNG's colour type, a bitmap's bits per pixel and a PCX's planes.
constexpr uint32_t kHeadSize = 128;

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

}  // namespace

int CheckPicture(const char* name, const Palette& palette, const char* palette_name) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(name, &input)) StopWithCode(error);
  uint8_t head[kHeadSize];
  uint32_t got;
  if (uint32_t error = FileRead(input, head, sizeof head, &got)) StopWithCode(error);
  const uint32_t start_size = std::min(got, kStartSize);
  const Reader reader = PickReader(head, start_size);
  if (IsFullColour(head, got, reader)) {
    if (uint32_t error = FileClose(input)) StopWithCode(error);
    // remap reads no full-colour PCX: the picture goes through a PNG first.
    const bool pcx = reader == ReadPcx;
    std::printf(
        "%s: full colour, not palette indices, which tessera refuses; %stessera-palette remap %s %s %s brings it "
        "into the palette (with --nearest when it has colours the palette lacks)\n",
        name, pcx ? "saved as a PNG, " : "", Quoted(palette_name).c_str(), pcx ? "PICTURE.png" : Quoted(name).c_str(),
        RemapOut(name, false).c_str());
    return 1;
  }
  if (uint32_t error = FileSeek(input, static_cast<int32_t>(start_size))) StopWithCode(error);
  Palette own;
  const Picture picture = reader(input, head, start_size, &own);
  bool used[256] = {};
  for (uint32_t row = 0; picture.rows != nullptr && row < picture.height; ++row) {
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    for (uint32_t x = 0; x < picture.width; ++x) used[pixels[x]] = true;
  }
  ReleaseBlock(picture.block);
  if (uint32_t error = FileClose(input)) StopWithCode(error);

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
