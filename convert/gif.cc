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
//   graphic     0x21 0xF9, a first sub-block of 4 bytes: flags:1 delay:2
//   control     transparent:1; flags bits 2-4: the disposal, bit 0: the
//               transparent index counts. It governs the next image.
//   loop count  0x21 0xFF, a first sub-block of 11 bytes "NETSCAPE2.0", a
//               second of 1:1 count:2 (0: forever)
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
// not the rest of its data, later images or the trailer. The tools read every
// image (gif_animation.cc) with the parts here that gif_parts.h declares.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/gif_parts.h"
#include "convert/lzw.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

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

// The row held aside while DeinterlaceGif follows a cycle, and the rows
// already in their places.
uint8_t held_row[65535];
bool placed[65535];

}  // namespace

void ReadGifColourTable(ByteStream* stream, uint32_t size, Palette* palette) {
  if (size == 0) return;
  if (!ReadBytes(stream, &palette->colours[0][0], size)) StopWithCode(kShortRead);
  palette->count = size / 3;
}

GifBlock ReadGifExtensions(ByteStream* stream, GifControl* control, int32_t* loop_count) {
  for (;;) {
    uint8_t block;
    if (!NextByte(stream, &block)) return kGifFileEnd;
    if (block == 0x2C) return kGifImageBlock;
    if (block == 0x3B) return kGifTrailerBlock;
    if (block != 0x21) StopWithCode(kShortRead);  // no block GIF has
    uint8_t label;
    if (!NextByte(stream, &label)) StopWithCode(kShortRead);
    bool netscape = false;  // an application extension that holds the loop count
    for (uint32_t index = 0;; ++index) {
      uint8_t length, bytes[255];
      if (!NextByte(stream, &length)) StopWithCode(kShortRead);
      if (length == 0) break;
      if (!ReadBytes(stream, bytes, length)) StopWithCode(kShortRead);
      if (index == 0 && label == 0xF9 && length == 4) {
        *control = {(bytes[0] >> 2) & 7u, bytes[0] & 1 ? int32_t{bytes[3]} : -1, LoadLittle16(bytes + 1)};
      }
      if (index == 0 && label == 0xFF) netscape = length == 11 && std::memcmp(bytes, "NETSCAPE2.0", 11) == 0;
      if (index == 1 && netscape && length >= 3 && bytes[0] == 1)
        *loop_count = static_cast<int32_t>(LoadLittle16(bytes + 1));
    }
  }
}

void ReadGifDescriptor(ByteStream* stream, GifDescriptor* descriptor) {
  uint8_t bytes[9];
  if (!ReadBytes(stream, bytes, sizeof bytes)) StopWithCode(kShortRead);
  *descriptor = {LoadLittle16(bytes), LoadLittle16(bytes + 2), LoadLittle16(bytes + 4), LoadLittle16(bytes + 6),
                 bytes[8]};
}

void SettleGifScreen(uint32_t stored_width, uint32_t stored_height, const GifDescriptor& first, uint32_t* width,
                     uint32_t* height) {
  *width = stored_width != 0 ? stored_width : first.left + first.width;
  *height = stored_height != 0 ? stored_height : first.top + first.height;
  if (*width == 0 || *height == 0) StopWithCode(kUnsupportedBitmap);
  if (*width > 65535 || *height > 65535) StopWithCode(kUnsupportedBitmap);
  if (uint64_t{*width} * *height >= kBlockLimit) StopWithCode(kOutOfMemory);
}

uint32_t ReadGifCodeSize(ByteStream* stream) {
  uint8_t code_size;
  if (!NextByte(stream, &code_size)) StopWithCode(kShortRead);
  if (code_size < 2 || code_size > 8) StopWithCode(kShortRead);
  return code_size;
}

uint32_t DecodeGifImage(ByteStream* stream, uint32_t code_size, LzwEntry* table, uint8_t* out, uint32_t size) {
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
  return held.left_in_block;
}

bool SkipGifData(ByteStream* stream, uint32_t left) {
  for (uint8_t length = 1; length != 0; left = length) {
    if (!SkipBytes(stream, left)) return false;
    if (!NextByte(stream, &length)) return false;
  }
  return true;
}

// Each cycle of the permutation is followed with one row held aside.
void DeinterlaceGif(uint8_t* rows, uint32_t width, uint32_t height) {
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

void PaintGifImage(const uint8_t* indices, const GifDescriptor& where, bool interlaced, int32_t transparent,
                   uint8_t* screen, uint32_t width, uint32_t height) {
  const uint32_t visible = where.left < width ? std::min(where.width, width - where.left) : 0;
  for (uint32_t stored = 0; stored < where.height && visible > 0; ++stored) {
    const uint64_t y = where.top + uint64_t{interlaced ? ImageRow(stored, where.height) : stored};
    if (y >= height) continue;
    uint8_t* to = screen + y * width + where.left;
    const uint8_t* from = indices + uint64_t{stored} * where.width;
    if (transparent < 0) {
      std::memcpy(to, from, visible);
      continue;
    }
    for (uint32_t x = 0; x < visible; ++x) {
      if (from[x] != transparent) to[x] = from[x];
    }
  }
}

Picture ReadGif(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  StartStream(&stream, input, start, got);
  uint8_t screen[13];  // the signature, then the logical screen descriptor
  if (!ReadBytes(&stream, screen, sizeof screen)) StopWithCode(kShortRead);
  const uint8_t flags = screen[10], background = screen[11];
  if (palette != nullptr) {
    *palette = {0, 0, 8, {}, {}};
    ReadGifColourTable(&stream, GifColourTableSize(flags), palette);
  } else if (!SkipBytes(&stream, GifColourTableSize(flags))) {
    StopWithCode(kShortRead);
  }

  // Extensions up to the first image: the trailer or the end of the file
  // first means there is none.
  GifControl control = kNoGifControl;
  int32_t loop_count;
  const GifBlock block = ReadGifExtensions(&stream, &control, &loop_count);
  if (block == kGifFileEnd) StopWithCode(kShortRead);
  if (block == kGifTrailerBlock) StopWithCode(kShortRead);
  if (palette != nullptr && control.transparent >= 0) palette->clear[control.transparent] = true;

  GifDescriptor where;
  ReadGifDescriptor(&stream, &where);
  const bool interlaced = where.flags & 0x40;
  uint32_t width, height;
  SettleGifScreen(LoadLittle16(screen + 6), LoadLittle16(screen + 8), where, &width, &height);
  const uint64_t picture_size = uint64_t{width} * height;
  // The screen, and after it the LZW table.
  const uint64_t table_at = (picture_size + 15) / 16 * 16;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(table_at + kLzwTableSize));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  LzwEntry* table = reinterpret_cast<LzwEntry*>(pixels + table_at);
  const Picture picture = {width, height, pixels, width, true, pixels};
  if (flags & 0x80 && background != 0) std::memset(pixels, background, picture_size);
  if (palette != nullptr) ReadGifColourTable(&stream, GifColourTableSize(where.flags), palette);
  if (where.width == 0 || where.height == 0) return picture;  // it covers nothing

  if (palette == nullptr && !SkipBytes(&stream, GifColourTableSize(where.flags))) StopWithCode(kShortRead);
  const uint32_t code_size = ReadGifCodeSize(&stream);
  const uint64_t image_size = uint64_t{where.width} * where.height;
  if (where.left == 0 && where.width == width && where.top + where.height <= height) {
    // The image's rows are whole rows of the screen: it decodes in place.
    uint8_t* rows = pixels + uint64_t{where.top} * width;
    DecodeGifImage(&stream, code_size, table, rows, static_cast<uint32_t>(image_size));
    if (interlaced) DeinterlaceGif(rows, width, where.height);
    return picture;
  }
  // Otherwise it decodes beside the screen, and its rows are painted on it.
  if (image_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* image = static_cast<uint8_t*>(AllocateBlock(image_size));
  if (image == nullptr) StopWithCode(kOutOfMemory);
  DecodeGifImage(&stream, code_size, table, image, static_cast<uint32_t>(image_size));
  PaintGifImage(image, where, interlaced, -1, pixels, width, height);
  ReleaseBlock(image);
  return picture;
}
