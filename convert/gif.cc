// GIF pictures, which every paint program and converter writes. The file:
//
//   signature   "GIF87a" or "GIF89a"
//   screen      width:2 height:2 flags:1 background:1 aspect:1, little-endian;
//               flags bit 7: a global colour table of 3 * 2^(flags % 8 + 1)
//               bytes follows
//   blocks      0x21 label sub-blocks      an extension: graphic control,
//                                          comment, application, plain text
//               0x2C left:2 top:2 width:2 height:2 flags:1 [colour table]
//                    code-size:1 sub-blocks
//                                          an image; flags bit 7: a local
//                                          colour table as above, bit 6:
//                                          rows interlaced
//               0x3B                       the trailer
//   sub-blocks  length:1 and that many bytes, up to one of length 0
//   rows        in order, or interlaced in four passes: every 8th row from 0,
//               every 8th from 4, every 4th from 2, every 2nd from 1
//
// The image data's sub-blocks, joined, hold LZW codes, least significant bit
// first. With a minimum code size m (2 to 8), codes 0 to 2^m - 1 stand for
// themselves, 2^m is the clear code, 2^m + 1 the end of the data, and the
// table's next free entry starts at 2^m + 2. Codes are m + 1 bits wide at
// first and a bit wider each time the next free entry reaches 2^width, up to
// 12 bits. Each code after the first adds an entry: the previous code's
// string and the first index of this code's string, or, for the next free
// code itself, of the previous code's string. At 4096 entries the table stops
// growing until a clear code, which empties it and resets the width.
//
// What converts: the first image, painted at (left, top) on a screen of the
// logical screen's size; pixels off the screen are dropped, and those the
// image doesn't cover are the background index when there is a global colour
// table, otherwise 0. A screen side of 0, as some writers leave it, takes the
// first image's far edge on that side (left + width, top + height); a side
// that is 0 even then, or above 65535, is not converted. The screen is made
// once the first image's descriptor has given its size, so a file with no
// image never has one. The colour tables are passed over: a frame holds
// indices, so the palette is not read. Only tessera-palette, which asks for
// it, reads them: the image's local table when it has one, else the global
// table, and the transparent index of the graphic control extension nearest
// before the image. Nothing after the code that completes the image is read:
// not the rest of its data, later images or the trailer.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/lzw.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// The bytes of a colour table that `flags` announces.
uint32_t ColourTableSize(uint8_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; }

// The image data's bits read ahead, the next code's lowest, and what is left
// of the sub-block they come from.
struct CodeBits {
  uint64_t bits;
  uint32_t count;
  uint32_t left_in_block;
};

// Reads ahead until the next code of `width` bits is there. The data ends
// when a sub-block of length 0 or the end of the file comes first: the image
// is incomplete. Beyond that, what the buffer already holds of the sub-block
// is taken too, so that most codes need no reading at all. The bits go in
// and out by value, so that the decoding loop can keep them in registers.
CodeBits ReadAhead(ByteStream* stream, CodeBits held, uint32_t width) {
  while (held.count < width) {
    uint8_t byte;
    if (held.left_in_block == 0) {
      if (!NextByte(stream, &byte)) StopWithCode(kShortRead);
      if (byte == 0) StopWithCode(kShortRead);  // the data's last sub-block
      held.left_in_block = byte;
    }
    if (!NextByte(stream, &byte)) StopWithCode(kShortRead);
    --held.left_in_block;
    held.bits |= uint64_t{byte} << held.count;
    held.count += 8;
  }
  for (; held.count <= 56 && held.left_in_block > 0 && stream->next < stream->end; held.count += 8) {
    held.bits |= uint64_t{*stream->next++} << held.count;
    --held.left_in_block;
  }
  return held;
}

// The row of an interlaced image of `height` rows that was stored
// `stored`-th.
uint32_t ImageRow(uint32_t stored, uint32_t height) {
  const uint32_t counts[4] = {(height + 7) / 8, (height + 3) / 8, (height + 1) / 4, height / 2};
  constexpr uint32_t kPassStart[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};
  uint32_t pass = 0;
  while (stored >= counts[pass]) stored -= counts[pass++];
  return kPassStart[pass] + stored * kPassStep[pass];
}

// Where image row `y` of an interlaced image of `height` rows was stored.
uint32_t StoredRow(uint32_t y, uint32_t height) {
  const uint32_t first = (height + 7) / 8, second = first + (height + 3) / 8, third = second + (height + 1) / 4;
  if (y % 8 == 0) return y / 8;
  if (y % 8 == 4) return first + y / 8;
  if (y % 4 == 2) return second + y / 4;
  return third + y / 2;
}

// Puts the rows of an interlaced image, decoded in stored order, in their
// places: each cycle of the permutation is followed with one row held aside.
uint8_t held_row[65535];
bool placed[65535];

void Deinterlace(uint8_t* rows, uint32_t width, uint32_t height) {
  std::memset(placed, 0, height);
  for (uint32_t y = 0; y < height; ++y) {
    if (placed[y]) continue;
    std::memcpy(held_row, rows + uint64_t{y} * width, width);
    for (uint32_t at = y;;) {
      const uint32_t from = StoredRow(at, height);
      placed[at] = true;
      if (from == y) {
        std::memcpy(rows + uint64_t{at} * width, held_row, width);
        break;
      }
      std::memcpy(rows + uint64_t{at} * width, rows + uint64_t{from} * width, width);
      at = from;
    }
  }
}

// Decodes the image's `size` indices into `out`, in stored order: LZW codes,
// least significant bit first.
void DecodeImage(ByteStream* stream, uint32_t code_size, LzwEntry* table, uint8_t* out, uint32_t size) {
  CodeBits held = {0, 0, 0};
  const LzwResult result = DecodeLzw(table, out, size, code_size, 0, [&](uint32_t width) {
    if (held.count < width) held = ReadAhead(stream, held, width);
    const uint32_t code = static_cast<uint32_t>(held.bits) & ((1u << width) - 1);
    held.bits >>= width;
    held.count -= width;
    return code;
  });
  if (result == kLzwEnd) StopWithCode(kShortRead);        // the data ends before the image does
  if (result == kLzwUndefined) StopWithCode(kShortRead);  // a code not yet defined
}

// Reads a colour table of `size` bytes into `palette`; none leaves it as it is.
void ReadColourTable(ByteStream* stream, uint32_t size, Palette* palette) {
  if (size == 0) return;
  if (!ReadBytes(stream, &palette->colours[0][0], size)) StopWithCode(kShortRead);
  palette->count = size / 3;
}

}  // namespace

Picture ReadGif(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  StartStream(&stream, input, start, got);
  uint8_t screen[13];  // the signature, then the logical screen descriptor
  if (!ReadBytes(&stream, screen, sizeof screen)) StopWithCode(kShortRead);
  const uint32_t screen_width = LoadLittle16(screen + 6), screen_height = LoadLittle16(screen + 8);
  const uint8_t flags = screen[10], background = screen[11];
  if (palette != nullptr) {
    *palette = {0, 0, 8, {}, {}};
    ReadColourTable(&stream, ColourTableSize(flags), palette);
  } else if (!SkipBytes(&stream, ColourTableSize(flags))) {
    StopWithCode(kShortRead);
  }

  // Extensions up to the first image.
  for (;;) {
    uint8_t block;
    if (!NextByte(&stream, &block)) StopWithCode(kShortRead);
    if (block == 0x2C) break;
    if (block != 0x21) StopWithCode(kShortRead);  // the trailer, or no block GIF has: no image
    uint8_t label, byte;
    if (!NextByte(&stream, &label)) StopWithCode(kShortRead);
    do {
      if (!NextByte(&stream, &byte)) StopWithCode(kShortRead);
      if (palette != nullptr && label == 0xF9 && byte == 4) {  // graphic control: flags, delay, transparent index
        uint8_t control[4];
        if (!ReadBytes(&stream, control, sizeof control)) StopWithCode(kShortRead);
        std::memset(palette->clear, 0, sizeof palette->clear);
        if (control[0] & 1) palette->clear[control[3]] = true;
      } else if (!SkipBytes(&stream, byte)) {
        StopWithCode(kShortRead);
      }
    } while (byte != 0);
  }

  uint8_t descriptor[9];
  if (!ReadBytes(&stream, descriptor, sizeof descriptor)) StopWithCode(kShortRead);
  const uint32_t left = LoadLittle16(descriptor), top = LoadLittle16(descriptor + 2);
  const uint32_t image_width = LoadLittle16(descriptor + 4), image_height = LoadLittle16(descriptor + 6);
  const bool interlaced = descriptor[8] & 0x40;
  // A side of the screen that is 0 takes the image's far edge on that side.
  const uint32_t width = screen_width != 0 ? screen_width : left + image_width;
  const uint32_t height = screen_height != 0 ? screen_height : top + image_height;
  if (width == 0 || height == 0) StopWithCode(kUnsupportedBitmap);
  if (width > 65535 || height > 65535) StopWithCode(kUnsupportedBitmap);
  const uint64_t picture_size = uint64_t{width} * height;
  if (picture_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  // The screen, and after it the LZW table.
  const uint64_t table_at = (picture_size + 15) / 16 * 16;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(table_at + kLzwTableSize));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  LzwEntry* table = reinterpret_cast<LzwEntry*>(pixels + table_at);
  const Picture picture = {width, height, pixels, width, true, pixels};
  if (flags & 0x80 && background != 0) std::memset(pixels, background, picture_size);
  if (palette != nullptr) ReadColourTable(&stream, ColourTableSize(descriptor[8]), palette);
  if (image_width == 0 || image_height == 0) return picture;  // it covers nothing

  if (palette == nullptr && !SkipBytes(&stream, ColourTableSize(descriptor[8]))) StopWithCode(kShortRead);
  uint8_t code_size;
  if (!NextByte(&stream, &code_size)) StopWithCode(kShortRead);
  if (code_size < 2 || code_size > 8) StopWithCode(kShortRead);
  const uint64_t image_size = uint64_t{image_width} * image_height;
  if (left == 0 && image_width == width && top + image_height <= height) {
    // The image's rows are whole rows of the screen: it decodes in place.
    uint8_t* rows = pixels + uint64_t{top} * width;
    DecodeImage(&stream, code_size, table, rows, static_cast<uint32_t>(image_size));
    if (interlaced) Deinterlace(rows, width, image_height);
    return picture;
  }
  // Otherwise it decodes beside the screen, and its rows are painted on it.
  if (image_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* image = static_cast<uint8_t*>(AllocateBlock(image_size));
  if (image == nullptr) StopWithCode(kOutOfMemory);
  DecodeImage(&stream, code_size, table, image, static_cast<uint32_t>(image_size));
  const uint32_t visible = left < width ? std::min(image_width, width - left) : 0;
  for (uint32_t stored = 0; stored < image_height && visible > 0; ++stored) {
    const uint64_t y = top + uint64_t{interlaced ? ImageRow(stored, image_height) : stored};
    if (y < height) std::memcpy(pixels + y * width + left, image + uint64_t{stored} * image_width, visible);
  }
  ReleaseBlock(image);
  return picture;
}
