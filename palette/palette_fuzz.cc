// libFuzzer target for tessera-palette. Each input is written to a file in a
// private directory and used as everything tessera-palette reads: a palette
// (any format: text, RIFF, tables, pictures), then a picture to check and to
// remap, in palette or full colour, into a fixed palette and into its own;
// a GIF of several images, image by image, to a GIF as well.
// What must hold whatever the input:
// - a failure is a FileProblem, as the command reports it, never a crash,
//   a read out of bounds (the sanitizers see those) or another exception;
// - a palette has from 0 to 256 entries and a precision of 5, 6 or 8 bits;
// - a remapped picture has an index for every pixel, each one the palette
//   has, and is written whole as a bitmap, PNG or GIF;
// - a GIF written reads back through the reader of every image with the
//   images remapped: their indices, places, delays, disposals and
//   transparent indices, and no table of their own;
// - the input is unchanged and nothing but the output is left behind.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "convert/fuzz_directory.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

std::string Contents(const char* name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

uint32_t Little16(const uint8_t* bytes) { return bytes[0] | bytes[1] << 8; }
uint32_t Big32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

// The pixels a picture's header announces, at a glance: a GIF's screen, a
// PNG's IHDR, a bitmap's, TGA's or PCX's size fields. A few bytes of runs or
// codes can decode into a picture of many megabytes, which remap then
// indexes: inputs announcing more than this are passed over, as they would
// slow the fuzzer to a crawl and say nothing new.
constexpr uint64_t kLargestPicture = uint64_t{1} << 20;

// A GIF's screen, a side of 0 taking the first image's far edge as the
// readers settle it, or its images' pixels summed, each being a block of its
// own; whichever is more.
uint64_t GifPixels(const uint8_t* data, size_t size) {
  const auto table = [](uint8_t flags) { return flags & 0x80 ? size_t{3} << ((flags & 7) + 1) : 0; };
  uint64_t width = Little16(data + 6), height = Little16(data + 8), pixels = 0;
  bool first = true;
  for (size_t at = 13 + table(data[10]); at < size; ++at) {  // a block, then its sub-blocks up to one of length 0
    const uint8_t* block = data + at;
    if (block[0] == 0x2C && at + 11 <= size) {
      const uint64_t image_width = Little16(block + 5), image_height = Little16(block + 7);
      if (first && width == 0) width = Little16(block + 1) + image_width;
      if (first && height == 0) height = Little16(block + 3) + image_height;
      first = false;
      pixels += image_width * image_height;
      at += 11 + table(block[9]);
    } else if (block[0] == 0x21) {
      at += 2;
    } else {
      break;
    }
    while (at < size && data[at] != 0) at += data[at] + size_t{1};
  }
  return std::max(width * height, pixels);
}

uint64_t AnnouncedPixels(const uint8_t* data, size_t size) {
  if (size >= 13 && std::memcmp(data, "GIF", 3) == 0) return GifPixels(data, size);
  if (size < 26) return 0;
  if (data[0] == 0x89 && std::memcmp(data + 1, "PNG", 3) == 0) return uint64_t{Big32(data + 16)} * Big32(data + 20);
  if (data[0] == 'B' && data[1] == 'M') {
    const int64_t width = static_cast<int32_t>(Little16(data + 18) | Little16(data + 20) << 16);
    const int64_t height = static_cast<int32_t>(Little16(data + 22) | Little16(data + 24) << 16);
    return static_cast<uint64_t>(std::abs(width * height));
  }
  // PCX's bounds and TGA's size fields, whichever the bytes are taken for.
  const uint64_t pcx = uint64_t{Little16(data + 8) + 1u} * (Little16(data + 10) + 1u);
  const uint64_t tga = uint64_t{Little16(data + 12)} * Little16(data + 14);
  return std::max(pcx, tga);
}

// The images a GIF written reads back as, compared one by one with those
// remapped.
struct ReadBack {
  const Indices* indices;
  uint32_t count;
};

void CompareImage(const GifScreen& screen, const GifImage& image, void* context) {
  ReadBack& back = *static_cast<ReadBack*>(context);
  Require(back.count < back.indices->images.size(), "more images read back than written");
  const RemappedImage& written = back.indices->images[back.count++];
  Require(screen.width == back.indices->width && screen.height == back.indices->height, "another screen read back");
  Require(image.left == written.left && image.top == written.top && image.width == written.width &&
              image.height == written.height && image.delay == written.delay && image.disposal == written.disposal &&
              image.transparent == written.transparent && !image.local_table,
          "an image read back in another place or with other fields");
  Require(std::equal(written.pixels.begin(), written.pixels.end(), image.indices), "other indices read back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzDirectory("tessera-palette-fuzz-");
  // check and remap say what they find on standard output: not wanted here.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output not sent away");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (AnnouncedPixels(data, size) > kLargestPicture) return -1;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::ofstream("in", std::ios::binary | std::ios::trunc).write(input.data(), static_cast<std::streamsize>(size));

  Palette own = {};
  bool loaded = true;
  try {
    LoadPalette("in", size % 3 == 0 ? 0 : 6 + 2 * (size % 2), &own);
  } catch (const FileProblem&) {
    CleanUpForStop();
    loaded = false;
  }
  if (loaded) {
    Require(own.first <= own.count && own.count <= 256, "a palette of more than 256 entries");
    Require(own.bits == 5 || own.bits == 6 || own.bits == 8, "a palette of no precision it has");
  }

  // What no header above tells: a picture too large to be worth indexing.
  try {
    Palette unused;
    const Picture picture = ReadPictureFile("in", &unused);
    ReleaseBlock(picture.block);
    if (uint64_t{picture.width} * picture.height > kLargestPicture) return -1;
  } catch (const FileProblem&) {
    CleanUpForStop();
  }

  // A palette of every grey, and the input's own when it has one.
  Palette greys = {0, 256, 8, {}, {}};
  for (uint32_t k = 0; k < 256; ++k) greys.colours[k][0] = greys.colours[k][1] = greys.colours[k][2] = uint8_t(k);
  for (const Palette* palette : {&greys, loaded && own.count > own.first ? &own : &greys}) {
    try {
      const int status = CheckPicture("in", *palette, "palette.pal", kAdviceInline);
      Require(status == 0 || status == 1, "check gave a status it doesn't have");
    } catch (const FileProblem&) {
      CleanUpForStop();
    }
    Indices indices;
    std::string result;
    try {
      const RemapOptions options = {true, static_cast<int32_t>(size % 256)};
      const char* out = size % 3 == 0 ? "out.gif" : size % 3 == 1 ? "out.png" : "out.bmp";
      if (RemapPicture("in", *palette, options, out, &indices, &result) != 0) continue;
      Require(!indices.images.empty() && (indices.images.size() == 1 || out[4] == 'g'), "images a picture can't hold");
      for (const RemappedImage& image : indices.images) {
        Require(image.pixels.size() == uint64_t{image.width} * image.height, "not an index a pixel");
        for (uint8_t index : image.pixels) {
          Require(index == size % 256 || (index >= palette->first && index < palette->count),
                  "an index the palette lacks");
        }
      }
      WriteRemapped(out, indices, *palette);
      if (out[4] == 'g') {
        ReadBack back = {&indices, 0};
        Require(WalkGif(out, CompareImage, &back) == indices.images.size() && back.count == back.indices->images.size(),
                "another count of images read back");
      }
    } catch (const FileProblem&) {
      CleanUpForStop();
    }
  }

  Require(Contents("in") == input, "input changed");
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    Require(name == "in" || name == "out.png" || name == "out.bmp" || name == "out.gif", "a file left behind");
  }
  for (const char* out : {"out.png", "out.bmp", "out.gif"}) std::filesystem::remove(out);
  return 0;
}
