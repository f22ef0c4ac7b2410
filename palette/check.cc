// check: every index a picture's pixels use must show the palette's colour at
// that index. Colours are compared at the lower precision of the two: 8 bits
// a channel, or the high 6 or 5 bits when either side stored only those.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

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
// the picture and `out` (the picture itself, or "OUT.png"). Without the names
// for kAdviceNone.
std::string Step(const Next& next, const char* words, const char* out) {
  if (next.advice == kAdviceNone) return words;
  const bool always = next.advice == kAdviceOnly;
  return std::string(next.advice == kAdviceInline ? "tessera-palette " : "") + words + " " +
         Quoted(next.palette_name, always) + " " + Quoted(next.name, always) + " " + Quoted(out, always);
}

// OUT for a remap in place: the picture when remap writes its kind (a bitmap
// or PNG; a GIF of several images as a GIF), else `otherwise`.
const char* InPlace(const char* name, bool animation, const char* otherwise) {
  const bool kept = animation ? HasExtension(name, ".gif") : HasExtension(name, ".bmp") || HasExtension(name, ".png");
  return kept ? name : otherwise;
}

// Ends a check of a picture that differs: its lines, or with kAdviceOnly the
// command alone.
int Differs(const Next& next, const std::string& lines, const std::string& step) {
  std::fputs((next.advice == kAdviceOnly ? step + "\n" : lines).c_str(), stdout);
  return 1;
}

// Adds to `lacking` the colours of the differing indices the palette holds at
// no index (compared as SameColour compares): each by its 8-bit value, so
// that a colour at two indices is one, and an index past the picture's own
// palette as one of its own.
void AddLacking(const Palette& own, const Palette& palette, const uint32_t* differing, uint32_t count,
                std::set<uint32_t>* lacking) {
  const uint32_t shift = 8 - std::min(own.bits, palette.bits);
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* c = own.colours[differing[k]];
    bool found = false;
    for (uint32_t index = palette.first; Defined(own, differing[k]) && !found && index < palette.count; ++index) {
      if (palette.no_colour[index]) continue;
      const uint8_t* p = palette.colours[index];
      found = c[0] >> shift == p[0] >> shift && c[1] >> shift == p[1] >> shift && c[2] >> shift == p[2] >> shift;
    }
    if (!found)
      lacking->insert(Defined(own, differing[k]) ? uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2]
                                                 : 1u << 24 | differing[k]);
  }
}

// The indices in `used` that differ from the palette's, into `differing`;
// their count.
uint32_t FindDiffering(const bool* used, const Palette& own, const Palette& palette, uint32_t differing[256]) {
  uint32_t count = 0;
  for (uint32_t index = 0; index < 256; ++index) {
    if (!used[index] || palette.no_colour[index]) continue;  // no colour to differ from
    if (!Defined(own, index) || !Defined(palette, index) || !SameColour(own, palette, index)) {
      differing[count++] = index;
    }
  }
  return count;
}

// The line of an index that differs, after `image` ("image 3, ").
std::string IndexLine(const std::string& image, const Palette& own, const Palette& palette, uint32_t index) {
  char picture_colour[16], palette_colour[16];
  FormatColour(own, index, picture_colour);
  FormatColour(palette, index, palette_colour);
  return "  " + image + "index " + std::to_string(index) + ": " + picture_colour + ", palette " + palette_colour + "\n";
}

// Ends the lines of a picture, or of an animation's images, that differ with
// the next step: a remap in place (or to `out`) when every colour is in the
// palette, else one with --nearest to `out`.
int Advise(const Next& next, const std::string& lines, uint32_t lacking, bool animation, const char* out) {
  const char* their = animation ? "they use" : "it uses";
  if (lacking == 0) {
    const std::string step = Step(next, "remap", InPlace(next.name, animation, out));
    return Differs(next,
                   lines + "  every colour " + their + " is in the palette at another index: " + step + " puts " +
                       (animation ? "them" : "it") + " in order without loss\n",
                   step);
  }
  const std::string step = Step(next, "remap --nearest", out);
  return Differs(next,
                 lines + "  the palette lacks " + std::to_string(lacking) + " of " + (animation ? "their" : "its") +
                     " colours: " + step + " takes the nearest\n",
                 step);
}

// What an animation's check keeps of each image: the indices it paints and
// the colour table they show.
struct ImageUse {
  bool used[256];
  Palette colours;
};

void TakeImageUse(const GifScreen& screen, const GifImage& image, void* context) {
  std::vector<ImageUse>& images = *static_cast<std::vector<ImageUse>*>(context);
  images.push_back({{}, *image.colours});
  ImageUse& use = images.back();
  const uint64_t size = uint64_t{image.width} * image.height;
  for (uint64_t k = 0; k < size; ++k) use.used[image.indices[k]] = true;
  // A later image leaves the pixels of its transparent index unpainted; the
  // start value shows where the first leaves the screen to it, or where an
  // image is disposed of to it.
  if (image.number > 1 && image.transparent >= 0) use.used[image.transparent] = false;
  if (ShowsStartValue(screen, image) != kStartHidden) use.used[screen.start] = true;
}

// check of a GIF of several images: each image's indices through its own table.
int CheckAnimation(const Next& next, const std::vector<ImageUse>& images, const Palette& palette) {
  const std::string head = std::string(next.name) + ": " + std::to_string(images.size()) + " images, ";
  std::string shown;
  std::set<uint32_t> lacking;
  uint32_t total = 0, differing_images = 0, last = 0, lines = 0;
  for (uint32_t k = 0; k < images.size(); ++k) {
    uint32_t differing[256];
    const uint32_t count = FindDiffering(images[k].used, images[k].colours, palette, differing);
    if (count == 0) continue;
    total += count, ++differing_images, last = k + 1;
    for (uint32_t j = 0; j < count && lines < 8; ++j, ++lines) {
      shown += IndexLine("image " + std::to_string(k + 1) + ", ", images[k].colours, palette, differing[j]);
    }
    AddLacking(images[k].colours, palette, differing, count, &lacking);
  }
  if (total == 0) {
    if (next.advice != kAdviceOnly) std::printf("%sok\n", head.c_str());
    return 0;
  }
  const std::string which =
      differing_images == 1 ? "image " + std::to_string(last) : std::to_string(differing_images) + " of them";
  return Advise(
      next,
      head + which + ": " + std::to_string(total) + (total == 1 ? " index differs" : " indices differ") + "\n" + shown,
      static_cast<uint32_t>(lacking.size()), true, "OUT.gif");
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
  std::vector<ImageUse> images;
  if (WalkGif(name, TakeImageUse, &images) > 1) return CheckAnimation(next, images, palette);
  Palette own;
  const Picture picture = ReadPictureFile(name, &own);
  if (picture.colours) {
    const bool all_there = AllColoursThere(picture, palette);
    ReleaseBlock(picture.block);
    const std::string step = Step(next, all_there ? "remap" : "remap --nearest", "OUT.png");
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
    const std::string step = Step(next, "preview", "OUT.png");
    return Differs(
        next, std::string(name) + ": no palette of its own to check; " + step + " shows the frame it gives\n", step);
  }
  uint32_t differing[256];
  const uint32_t count = FindDiffering(used, own, palette, differing);
  if (count == 0) {
    if (advice != kAdviceOnly) std::printf("%s: ok\n", name);
    return 0;
  }
  std::string lines =
      std::string(name) + ": " + std::to_string(count) + (count == 1 ? " index differs" : " indices differ") + "\n";
  for (uint32_t k = 0; k < std::min(count, 8u); ++k) lines += IndexLine("", own, palette, differing[k]);
  std::set<uint32_t> lacking;
  AddLacking(own, palette, differing, count, &lacking);
  return Advise(next, lines, static_cast<uint32_t>(lacking.size()), false, "OUT.png");
}
