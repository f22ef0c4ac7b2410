// remap: a picture's pixels as the palette's indices. Each pixel's colour
// becomes an index:
//   - a palette picture's own index, when the palette shows its colour there,
//     so a picture already in order keeps every index;
//   - else the lowest index of the palette with exactly that colour, compared
//     at the lower precision of the two (6 bits against a 6-bit palette);
//   - else, with --nearest, the index of the least squared distance in red,
//     green and blue (the lowest on a tie); without it the colour is missing
//     and nothing is written.
// Transparent pixels take the index --transparent gives; without it they
// leave the picture unwritten too. A full-colour picture's result is kept per
// distinct colour, so a photograph costs a search per colour, not per pixel.
//
// The output, written under a temporary name and moved onto its own: an
// 8-bit bitmap (40-byte header, the palette as its colour table, rows bottom
// first) or an indexed PNG, by the name's extension.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/gif_writer.h"
#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

// A colour the palette lacks, and the first pixel that has it: its place on
// the screen and, in a GIF remapped image by image, its image.
struct Missing {
  uint32_t colour, x, y, image;
};

// What a remap found, across the picture.
struct Findings {
  uint64_t moved;     // pixels given their nearest colour
  uint32_t farthest;  // the largest squared distance among them
  uint64_t missing_count;
  Missing missing[8];
  uint64_t clear;    // transparent pixels
  uint64_t changed;  // a palette picture's pixels that took another index than their own
  // A GIF remapped image by image: the image being remapped (0 for a
  // picture), its place, and the colours found missing in earlier images.
  uint32_t image, left, top;
  std::set<uint32_t> missing_before;
};

// A result for a colour: the index, and whether it was the nearest rather
// than the same colour, or none at all.
constexpr uint32_t kMoved = 1 << 8, kNone = 1 << 9;

uint32_t Pack(const uint8_t* c) { return uint32_t{c[0]} << 16 | c[1] << 8 | c[2]; }

// The result for colour `rgb`, stored at `bits` bits a channel.
uint32_t Find(const Palette& palette, uint32_t rgb, uint32_t bits, bool nearest, uint32_t* distance) {
  const uint32_t shift = 8 - std::min(bits, palette.bits);
  const int r = rgb >> 16, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  uint32_t best = kNone, least = UINT32_MAX;
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    if (palette.no_colour[index]) continue;
    const uint8_t* c = palette.colours[index];
    if (c[0] >> shift == r >> shift && c[1] >> shift == g >> shift && c[2] >> shift == b >> shift) return index;
    const uint32_t d =
        static_cast<uint32_t>((c[0] - r) * (c[0] - r) + (c[1] - g) * (c[1] - g) + (c[2] - b) * (c[2] - b));
    if (d < least) least = d, best = index;
  }
  if (!nearest || best == kNone) return kNone;
  *distance = least;
  return best | kMoved;
}

// Counts a pixel whose colour has result `found`; the index it gets, or 0.
uint8_t Tally(uint32_t found, uint32_t distance, uint32_t rgb, uint32_t x, uint32_t y, bool first, Findings* findings) {
  if (found & kNone) {
    if (first && findings->image > 0) first = findings->missing_before.insert(rgb).second;
    if (first && findings->missing_count < 8) {
      findings->missing[findings->missing_count] = {rgb, findings->left + x, findings->top + y, findings->image};
    }
    if (first) ++findings->missing_count;
    return 0;
  }
  if (found & kMoved) {
    ++findings->moved;
    if (first) findings->farthest = std::max(findings->farthest, distance);
  }
  return static_cast<uint8_t>(found);
}

// The result for a palette picture's index: itself when the palette shows
// its colour there, else as Find finds its colour.
uint32_t FindIndex(const Palette& own, const Palette& palette, uint32_t index, bool nearest, uint32_t* distance) {
  const uint8_t* c = own.colours[index];
  const bool defined = index >= own.first && index < own.count;
  const uint32_t shift = 8 - std::min(own.bits, palette.bits);
  if (defined && IsColour(palette, index) &&
      std::equal(c, c + 3, palette.colours[index],
                 [shift](uint8_t a, uint8_t b) { return a >> shift == b >> shift; })) {
    return index;
  }
  return defined ? Find(palette, Pack(c), own.bits, nearest, distance) : kNone;
}

// A palette picture: a result per index, the picture's own index first.
void RemapIndices(const Picture& picture, const Palette& own, const Palette& palette, const RemapOptions& options,
                  Findings* findings, uint8_t* indices) {
  uint32_t found[256], distance[256] = {};
  bool seen[256] = {};
  for (uint32_t index = 0; index < 256; ++index) {
    found[index] = FindIndex(own, palette, index, options.nearest, &distance[index]);
  }
  for (uint32_t y = 0; y < picture.height; ++y) {
    const uint32_t row = picture.top_down ? y : picture.height - 1 - y;
    const uint8_t* pixels = picture.rows + uint64_t{row} * picture.stride;
    uint8_t* out = indices + uint64_t{y} * picture.width;
    for (uint32_t x = 0; x < picture.width; ++x) {
      const uint8_t index = pixels[x];
      if (index < own.first || index >= own.count) {
        ThrowProblem("pixels of index " + std::to_string(index) + ", which its own palette of " +
                     std::to_string(own.count - own.first) + " colours lacks");
      }
      if (own.clear[index]) {
        ++findings->clear;
        out[x] = static_cast<uint8_t>(options.clear_to);
        findings->changed += out[x] != index;
        continue;
      }
      // A colour the picture holds at two indices is one colour missing.
      bool first = !seen[index];
      for (uint32_t other = 0; first && found[index] & kNone && other < 256; ++other) {
        if (seen[other] && found[other] & kNone && std::memcmp(own.colours[other], own.colours[index], 3) == 0) {
          first = false;
        }
      }
      seen[index] = true;
      out[x] = Tally(found[index], distance[index], Pack(own.colours[index]), x, y, first, findings);
      findings->changed += out[x] != index;
    }
  }
}

// The palette arranged for a full-colour picture's colours: its colours at
// its own precision in a table of open addressing, each giving its lowest
// index; and for the nearest search, the colour cube cut into 8 x 8 x 8
// cells, each with the entries that can be nearest to a colour inside it
// (those no farther from the cell than the least of the entries' farthest
// distances from it), listed when a colour first falls in the cell.
struct Search {
  uint32_t shift;
  uint32_t colours;  // the palette's entries that are colours
  uint32_t keys[1024];
  uint8_t lowest[1024];
  bool listed[512];
  std::vector<uint8_t> cells[512];
};

uint32_t Slot(uint32_t key, uint32_t bits) { return (key * 2654435761u) >> (32 - bits); }

uint32_t Reduced(uint32_t rgb, uint32_t shift) {
  return (rgb >> 16 >> shift << 16 | (rgb >> 8 & 0xFF) >> shift << 8 | (rgb & 0xFF) >> shift) | 1u << 24;
}

void Arrange(const Palette& palette, Search* search) {
  search->shift = 8 - palette.bits;
  std::memset(search->keys, 0, sizeof search->keys);
  std::memset(search->listed, 0, sizeof search->listed);
  search->colours = 0;
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    if (palette.no_colour[index]) continue;
    ++search->colours;
    const uint32_t key = Reduced(Pack(palette.colours[index]), search->shift);
    uint32_t slot = Slot(key, 10);
    while (search->keys[slot] != 0 && search->keys[slot] != key) slot = (slot + 1) & 1023;
    if (search->keys[slot] == 0) search->keys[slot] = key, search->lowest[slot] = static_cast<uint8_t>(index);
  }
}

// The entries that can be nearest to a colour of cell `cell`, lowest first.
void ListCell(const Palette& palette, uint32_t cell, Search* search) {
  const int low[3] = {static_cast<int>(cell >> 6) * 32, static_cast<int>(cell >> 3 & 7) * 32,
                      static_cast<int>(cell & 7) * 32};
  uint32_t nearest[256], farthest[256], least = UINT32_MAX;
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    if (palette.no_colour[index]) continue;
    nearest[index] = farthest[index] = 0;
    for (int k = 0; k < 3; ++k) {
      const int v = palette.colours[index][k], high = low[k] + 31;
      const int inside = v < low[k] ? low[k] - v : v > high ? v - high : 0;
      const int outside = std::max(std::abs(v - low[k]), std::abs(v - high));
      nearest[index] += static_cast<uint32_t>(inside * inside);
      farthest[index] += static_cast<uint32_t>(outside * outside);
    }
    least = std::min(least, farthest[index]);
  }
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    if (!palette.no_colour[index] && nearest[index] <= least)
      search->cells[cell].push_back(static_cast<uint8_t>(index));
  }
  search->listed[cell] = true;
}

// The result for an 8-bit colour, its squared distance above bit 10.
uint32_t Look(const Palette& palette, uint32_t rgb, bool nearest, Search* search) {
  const uint32_t key = Reduced(rgb, search->shift);
  for (uint32_t slot = Slot(key, 10); search->keys[slot] != 0; slot = (slot + 1) & 1023) {
    if (search->keys[slot] == key) return search->lowest[slot];
  }
  if (!nearest || search->colours == 0) return kNone;
  const int r = rgb >> 16, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  const uint32_t cell = (rgb >> 21) << 6 | (rgb >> 13 & 7) << 3 | (rgb >> 5 & 7);
  if (!search->listed[cell]) ListCell(palette, cell, search);
  uint32_t best = UINT32_MAX, best_index = 0;
  for (uint8_t index : search->cells[cell]) {
    const uint8_t* c = palette.colours[index];
    const uint32_t d =
        static_cast<uint32_t>((c[0] - r) * (c[0] - r) + (c[1] - g) * (c[1] - g) + (c[2] - b) * (c[2] - b));
    if (d < best) best = d, best_index = index;
  }
  return best_index | kMoved | best << 10;
}

// A full-colour picture: a result per distinct colour, kept in a table of
// open addressing that doubles when half full; a run of one colour is looked
// up once.
void RemapColours(const Picture& colours, const Palette& palette, const RemapOptions& options, Findings* findings,
                  uint8_t* indices) {
  Search search;
  Arrange(palette, &search);
  uint32_t bits = 12, used = 0;
  std::vector<uint64_t> table(size_t{1} << bits);  // key << 32 | result; key 0 is an empty slot
  uint64_t last = 0;
  uint32_t last_pixel = 0;  // the opaque pixel last looked up, as its four bytes; none yet
  for (uint32_t y = 0; y < colours.height; ++y) {
    const uint32_t row = colours.top_down ? y : colours.height - 1 - y;
    const uint8_t* pixel = colours.rows + uint64_t{row} * colours.stride;
    uint8_t* out = indices + uint64_t{y} * colours.width;
    for (uint32_t x = 0; x < colours.width; ++x, pixel += 4) {
      if (pixel[3] == 0) {
        ++findings->clear;
        out[x] = static_cast<uint8_t>(options.clear_to);
        continue;
      }
      uint32_t word;
      std::memcpy(&word, pixel, 4);
      if (word == last_pixel && !(last & kNone)) {  // a run goes on: the same index, and moved again if it was
        const uint8_t index = static_cast<uint8_t>(last);
        const uint32_t start = x;
        while (x + 1 < colours.width && std::memcmp(pixel + 4, &word, 4) == 0) ++x, pixel += 4;
        std::memset(out + start, index, x + 1 - start);
        if (last & kMoved) findings->moved += x + 1 - start;
        continue;
      }
      const uint32_t rgb = Pack(pixel), key = rgb | 1u << 24;
      bool first = false;
      uint32_t slot = Slot(key, bits);
      while (table[slot] != 0 && table[slot] >> 32 != key) slot = (slot + 1) & ((1u << bits) - 1);
      if (table[slot] == 0) {
        first = true;
        table[slot] = uint64_t{key} << 32 | Look(palette, rgb, options.nearest, &search);
        const uint64_t entry = table[slot];
        if (++used * 2 > table.size()) {  // twice the size, every entry in its new slot
          std::vector<uint64_t> grown(table.size() * 2);
          ++bits;
          for (uint64_t kept : table) {
            if (kept == 0) continue;
            uint32_t at = Slot(static_cast<uint32_t>(kept >> 32), bits);
            while (grown[at] != 0) at = (at + 1) & ((1u << bits) - 1);
            grown[at] = kept;
          }
          table.swap(grown);
        }
        last = entry;
      } else {
        last = table[slot];
      }
      last_pixel = word;
      const uint32_t result = static_cast<uint32_t>(last);
      out[x] = Tally(result & (kMoved | kNone | 0xFF), result >> 10, rgb, x, y, first, findings);
    }
  }
}

// A GIF remapped image by image, to a GIF of as many images.
struct GifRemap {
  const Palette* palette;
  const RemapOptions* options;
  Findings* findings;
  Indices* indices;
  GifScreen screen;  // as the first image found it, with the loop count as the last one did
  bool start_shows;  // whether a frame shows the start value: the first image leaves some of the screen to it, or an
                     // image without a transparent index is disposed of to it
  uint32_t start_x, start_y, start_image;  // where it first does
};

void RemapGifImage(const GifScreen& screen, const GifImage& image, void* context) {
  GifRemap& remap = *static_cast<GifRemap*>(context);
  if (image.number == 1) remap.screen = screen;
  remap.screen.loop_count = screen.loop_count;
  const uint64_t size = uint64_t{image.width} * image.height;
  const StartShown shown = ShowsStartValue(screen, image);
  if (!remap.start_shows && shown != kStartHidden) {
    remap.start_shows = true;
    remap.start_image = image.number;
    if (shown == kStartUncovered) {  // the first pixel the image leaves
      const bool right = image.left == 0 && image.top == 0 && image.width > 0 && image.width < screen.width;
      remap.start_x = right ? image.width : 0,
      remap.start_y = right || image.left > 0 || image.top > 0 ? 0 : image.height;
    } else {  // disposed of to it
      remap.start_x = image.left, remap.start_y = image.top;
    }
  }
  const Palette& own = *image.colours;
  if (size > 0 && own.count <= own.first) ThrowProblem("a palette picture without a palette of its own");
  // A transparent index stays one: --transparent's, else the image's own,
  // which then no pixel has (a transparent pixel needs --transparent), but a
  // disposal to it still fills the rectangle with it, as in the source.
  const int32_t clear_to = image.transparent < 0          ? -1
                           : remap.options->clear_to >= 0 ? remap.options->clear_to
                                                          : image.transparent;
  remap.indices->images.push_back({image.left, image.top, image.width, image.height, image.delay, image.disposal,
                                   clear_to, std::vector<uint8_t>(size)});
  Findings* findings = remap.findings;
  findings->image = image.number, findings->left = image.left, findings->top = image.top;
  const Picture picture = {image.width, image.height, image.indices, image.width, true, nullptr};
  if (size > 0)
    RemapIndices(picture, own, *remap.palette, *remap.options, findings, remap.indices->images.back().pixels.data());
}

// The background index of a GIF remapped image by image: its start value as
// a pixel of that index in the global table, 0 without one. A colour the
// palette lacks is missing where a frame shows it, and else 0 serves.
uint8_t RemapBackground(const GifRemap& remap) {
  const GifScreen& screen = remap.screen;
  if (!screen.global_table || screen.start >= screen.global.count) return 0;
  uint32_t distance = 0;
  const uint32_t found = FindIndex(screen.global, *remap.palette, screen.start, remap.options->nearest, &distance);
  if (found & kNone && remap.start_shows) {
    remap.findings->image = remap.start_image, remap.findings->left = remap.findings->top = 0;
    Tally(found, 0, Pack(screen.global.colours[screen.start]), remap.start_x, remap.start_y, true, remap.findings);
  }
  return found & kNone ? 0 : static_cast<uint8_t>(found);
}

}  // namespace

bool IsRemapOutput(const std::string& name) {
  return HasExtension(name, ".bmp") || HasExtension(name, ".png") || HasExtension(name, ".gif");
}

int RemapPicture(const char* name, const Palette& palette, const RemapOptions& options, const char* out_name,
                 Indices* indices, std::string* result) {
  Findings findings = {};
  const bool to_gif = HasExtension(out_name, ".gif");
  uint32_t images = 0;
  if (to_gif) {
    GifRemap remap = {&palette, &options, &findings, indices, {}, false, 0, 0, 0};
    indices->images.clear();
    images = WalkGif(name, RemapGifImage, &remap);
    indices->width = remap.screen.width, indices->height = remap.screen.height;
    indices->loop_count = remap.screen.loop_count;
    if (images > 0) indices->background = RemapBackground(remap);
  } else if ((images = CountGifImages(name)) > 1) {
    ThrowProblem(std::to_string(images) + " images, where a " + (HasExtension(out_name, ".png") ? "PNG" : "bitmap") +
                 " holds one; remap writes them all to an OUT ending in .gif");
  }
  bool colours = false;
  if (!to_gif || images == 0) {  // one picture
    Palette own;
    const Picture picture = ReadPictureFile(name, &own);
    if (!picture.colours && own.count <= own.first) ThrowProblem("a palette picture without a palette of its own");
    if (picture.rows == nullptr || picture.width == 0 || picture.height == 0) {
      ThrowProblem("an empty picture, which has nothing to remap");
    }
    const uint32_t width = picture.width, height = picture.height;
    *indices = {width, height, 0, -1, {}};
    indices->images.push_back({0, 0, width, height, 0, 0, -1, std::vector<uint8_t>(uint64_t{width} * height)});
    uint8_t* out = indices->images[0].pixels.data();
    colours = picture.colours;
    if (colours) {
      RemapColours(picture, palette, options, &findings, out);
    } else {
      RemapIndices(picture, own, palette, options, &findings, out);
    }
    ReleaseBlock(picture.block);
    if (findings.clear > 0) indices->images[0].transparent = options.clear_to;  // as a GIF keeps them
  }
  const std::string head = std::string(name) + ": " + (images > 1 ? std::to_string(images) + " images, " : "");
  int status = 0;
  if (findings.missing_count > 0) {
    std::printf("%s%llu %s the palette lacks, so nothing is written; --nearest takes the nearest instead\n",
                head.c_str(), static_cast<unsigned long long>(findings.missing_count),
                findings.missing_count == 1 ? "colour" : "colours");
    for (uint64_t k = 0; k < std::min<uint64_t>(findings.missing_count, 8); ++k) {
      const Missing& m = findings.missing[k];
      const std::string image = images > 1 ? " of image " + std::to_string(m.image) : "";
      std::printf("  (%u, %u, %u) at x %u, y %u%s\n", m.colour >> 16, m.colour >> 8 & 0xFF, m.colour & 0xFF, m.x, m.y,
                  image.c_str());
    }
    status = 1;
  }
  if (findings.clear > 0 && options.clear_to < 0) {
    std::printf("%s%llu transparent %s; --transparent N gives them index N\n", head.c_str(),
                static_cast<unsigned long long>(findings.clear), findings.clear == 1 ? "pixel" : "pixels");
    status = 1;
  }
  uint64_t pixels = 0;
  for (const RemappedImage& image : indices->images) pixels += image.pixels.size();
  char line[160];
  if (status == 0 && colours) {
    std::snprintf(line, sizeof line, "%llu %s of full colour, each now an index of the palette",
                  static_cast<unsigned long long>(pixels), pixels == 1 ? "pixel" : "pixels");
  } else if (status == 0 && findings.changed == 0) {
    std::snprintf(line, sizeof line, "in order already, every pixel kept its index");
  } else if (status == 0) {
    std::snprintf(line, sizeof line, "%llu of %llu pixels took another index",
                  static_cast<unsigned long long>(findings.changed), static_cast<unsigned long long>(pixels));
  }
  if (status == 0) *result = head + line + "\n";
  if (status == 0 && options.nearest) {
    std::snprintf(line, sizeof line, "%llu %s moved to the nearest colour, the farthest by %.1f",
                  static_cast<unsigned long long>(findings.moved), findings.moved == 1 ? "pixel" : "pixels",
                  std::sqrt(static_cast<double>(findings.farthest)));
    *result += head + line + "\n";
  }
  return status;
}

void WriteRemapped(const char* out_name, const Indices& indices, const Palette& palette) {
  if (HasExtension(out_name, ".gif")) {
    GifOutput gif;
    StartGif(out_name, {indices.width, indices.height, indices.background, &palette, indices.loop_count, nullptr},
             &gif);
    for (const RemappedImage& image : indices.images) {
      WriteGifImage(&gif, {image.left, image.top, image.width, image.height, image.pixels.data(), image.width,
                           image.delay, image.disposal, image.transparent});
    }
    FinishGif(&gif);
    return;
  }
  const std::vector<uint8_t>& pixels = indices.images[0].pixels;  // a picture's one image, covering the screen
  const uint32_t width = indices.width, height = indices.height;
  uint32_t largest = 0;
  for (uint8_t index : pixels) largest = std::max<uint32_t>(largest, index);
  if (HasExtension(out_name, ".png")) {
    std::vector<uint8_t> raw((uint64_t{width} + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
      std::memcpy(&raw[uint64_t{y} * (width + 1) + 1], &pixels[uint64_t{y} * width], width);
    }
    WriteIndexedPng(out_name, PackRows(raw.data(), raw.size(), width, height, largest, Z_DEFAULT_COMPRESSION), palette);
    return;
  }
  const uint32_t entries = std::max(palette.count, largest + 1);
  const uint32_t stride = (width + 3) / 4 * 4, offset = 14 + 40 + entries * 4;
  const uint64_t file_size = offset + uint64_t{stride} * height;
  if (file_size > UINT32_MAX) ThrowProblem("too large for a bitmap");
  std::vector<uint8_t> head(offset);
  head[0] = 'B', head[1] = 'M';
  StoreLittle32(&head[2], static_cast<uint32_t>(file_size));
  StoreLittle32(&head[10], offset);
  StoreLittle32(&head[14], 40);
  StoreLittle32(&head[18], width);
  StoreLittle32(&head[22], height);
  StoreLittle16(&head[26], 1);                // planes
  StoreLittle16(&head[28], 8);                // bits per pixel
  StoreLittle32(&head[34], stride * height);  // the pixel data's size
  StoreLittle32(&head[38], 2835);             // 72 dots an inch
  StoreLittle32(&head[42], 2835);
  StoreLittle32(&head[46], entries);  // colours used
  for (uint32_t index = palette.first; index < palette.count; ++index) {
    const uint8_t* c = palette.colours[index];
    uint8_t* entry = &head[54 + index * 4];
    entry[0] = c[2], entry[1] = c[1], entry[2] = c[0];
  }
  // The rows, bottom first, a block of them at a time.
  std::vector<uint8_t> block;
  FileHandle output;
  if (uint32_t error = FileCheckReplaceable(out_name)) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(out_name, &output)) StopWithCode(error);
  WriteBytes(output, head.data(), offset);
  for (uint32_t y = height; y-- > 0;) {
    block.insert(block.end(), &pixels[uint64_t{y} * width], &pixels[uint64_t{y} * width] + width);
    block.resize(block.size() + stride - width);
    if (block.size() >= (1 << 20) || y == 0) {
      WriteBytes(output, block.data(), static_cast<uint32_t>(block.size()));
      block.clear();
    }
  }
  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(out_name)) StopWithCode(error);
}
