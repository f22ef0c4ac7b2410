// Every image of a GIF, for the tools. The file's grammar is at the top of
// gif.cc; this reads all of its blocks, where tessera stops at the first
// image's last code:
//
//   GIF         signature screen [global colour table]
//               (extension* image)+ extension* [trailer]
//
// The file may end where a block would start after an image, or inside the
// rest of an image's data once its last index is decoded, as tessera takes
// a file that ends there. Anything else that ends early or that GIF doesn't
// have stops with kShortRead. Bytes after the trailer are not read.
//
// The frames: a screen of the start value (the background index with a
// global colour table, else 0), the first image painted on it whole, each
// later one but for pixels of its transparent index. After each image is
// painted, the screen is a frame; then its disposal applies to its rectangle
// as far as it lies on the screen: 2 fills it with the image's transparent
// index (the start value without one), 3 puts back what was there before the
// image, anything else leaves it.
#include "convert/gif_animation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "convert/byte_stream.h"
#include "convert/gif_parts.h"
#include "convert/lzw.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// Sizes `bytes` to `size`, or stops as a reader does when a block can't be had.
void Fit(std::vector<uint8_t>* bytes, uint64_t size) {
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  try {
    bytes->resize(size);
  } catch (const std::bad_alloc&) {
    StopWithCode(kOutOfMemory);
  }
}

// What ReadGifFrames keeps from one image to the next.
struct Compositing {
  GifFrameTaker take;
  void* context;
  std::vector<uint8_t> screen;
  std::vector<uint8_t> saved;  // the rectangle of an image of disposal 3, as it was before the image
};

void Composite(const GifScreen& screen, const GifImage& image, void* context) {
  Compositing& state = *static_cast<Compositing*>(context);
  const uint32_t width = screen.width, height = screen.height;
  if (image.number == 1) {
    Fit(&state.screen, uint64_t{width} * height);
    std::memset(state.screen.data(), screen.start, state.screen.size());
  }
  uint8_t* pixels = state.screen.data();
  // The image's rectangle as far as it lies on the screen; one without
  // columns has no rows either.
  const uint32_t left = std::min(image.left, width), top = std::min(image.top, height);
  const uint32_t right = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{image.left} + image.width, width));
  const uint32_t span = right - left;
  const uint32_t bottom =
      span == 0 ? top : static_cast<uint32_t>(std::min<uint64_t>(uint64_t{image.top} + image.height, height));
  if (image.disposal == 3) {
    Fit(&state.saved, uint64_t{span} * (bottom - top));
    for (uint32_t y = top; y < bottom; ++y) {
      std::memcpy(state.saved.data() + uint64_t{y - top} * span, pixels + uint64_t{y} * width + left, span);
    }
  }
  const GifDescriptor where = {image.left, image.top, image.width, image.height, 0};
  PaintGifImage(image.indices, where, false, image.number == 1 ? -1 : image.transparent, pixels, width, height);
  state.take(screen, image, pixels, state.context);
  if (image.disposal == 2) {
    const uint8_t value = image.transparent >= 0 ? static_cast<uint8_t>(image.transparent) : screen.start;
    for (uint32_t y = top; y < bottom; ++y) std::memset(pixels + uint64_t{y} * width + left, value, span);
  } else if (image.disposal == 3) {
    for (uint32_t y = top; y < bottom; ++y) {
      std::memcpy(pixels + uint64_t{y} * width + left, state.saved.data() + uint64_t{y - top} * span, span);
    }
  }
}

}  // namespace

void ReadGifImages(FileHandle input, GifImageTaker take, void* context, GifWalk* walk) {
  walk->image = 0;
  if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
  ByteStream stream;
  const uint8_t nothing[1] = {};
  StartStream(&stream, input, nothing, 0);
  uint8_t header[13];  // the signature, then the logical screen descriptor
  if (!ReadBytes(&stream, header, sizeof header)) StopWithCode(kShortRead);
  if (std::memcmp(header, "GIF", 3) != 0) StopWithCode(kUnsupportedBitmap);
  const uint8_t flags = header[10];
  GifScreen screen = {.width = LoadLittle16(header + 6),
                      .height = LoadLittle16(header + 8),
                      .start = 0,
                      .global_table = (flags & 0x80) != 0,
                      .global = {0, 0, 8, {}, {}},
                      .loop_count = -1};
  if (screen.global_table) screen.start = header[11];
  ReadGifColourTable(&stream, GifColourTableSize(flags), &screen.global);

  GifControl control = kNoGifControl;
  std::vector<uint8_t> indices;
  std::vector<LzwEntry> table(4096);
  Palette colours;
  for (walk->image = 1;; ++walk->image) {
    const GifBlock block = ReadGifExtensions(&stream, &control, &screen.loop_count);
    if (block != kGifImageBlock && walk->image == 1) StopWithCode(kShortRead);  // a file without an image
    if (block != kGifImageBlock) {
      --walk->image;  // the images read
      return;
    }
    GifDescriptor where;
    ReadGifDescriptor(&stream, &where);
    if (walk->image == 1) SettleGifScreen(screen.width, screen.height, where, &screen.width, &screen.height);
    const bool local_table = where.flags & 0x80;
    colours = local_table ? Palette{0, 0, 8, {}, {}} : screen.global;
    ReadGifColourTable(&stream, GifColourTableSize(where.flags), &colours);
    if (control.transparent >= 0) colours.clear[control.transparent] = true;
    const uint64_t size = uint64_t{where.width} * where.height;
    Fit(&indices, size);
    // The file may end once the image's last index is decoded, before the
    // rest of its data: the image is whole, and the last.
    bool more;
    if (size == 0) {
      uint8_t code_size;
      more = NextByte(&stream, &code_size) && SkipGifData(&stream, 0);
    } else {
      const uint32_t code_size = ReadGifCodeSize(&stream);
      const uint32_t left =
          DecodeGifImage(&stream, code_size, table.data(), indices.data(), static_cast<uint32_t>(size));
      more = SkipGifData(&stream, left);
    }
    const bool interlaced = where.flags & 0x40;
    if (interlaced && size > 0) DeinterlaceGif(indices.data(), where.width, where.height);
    const GifImage image = {.number = walk->image,
                            .left = where.left,
                            .top = where.top,
                            .width = where.width,
                            .height = where.height,
                            .interlaced = interlaced,
                            .indices = indices.data(),
                            .disposal = control.disposal,
                            .transparent = control.transparent,
                            .delay = control.delay,
                            .colours = &colours,
                            .local_table = local_table};
    take(screen, image, context);
    control = kNoGifControl;
    if (!more) return;
  }
}

void ReadGifFrames(FileHandle input, GifFrameTaker take, void* context, GifWalk* walk) {
  Compositing state = {take, context, {}, {}};
  ReadGifImages(input, Composite, &state, walk);
}
