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
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// The bytes of a colour table that `flags` announces.
uint32_t ColourTableSize(uint8_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; }

// The image data, a sub-block at a time.
struct ImageData {
  ByteStream* stream;
  uint32_t left_in_block;
  uint32_t bits;  // bits read ahead, the next code's lowest
  uint32_t bit_count;
};

// The next code of `width` bits. The data ends when a sub-block of length 0
// or the end of the file comes first: the image is incomplete.
uint32_t NextCode(ImageData* data, uint32_t width) {
  while (data->bit_count < width) {
    uint8_t byte;
    if (data->left_in_block == 0) {
      if (!NextByte(data->stream, &byte)) StopWithCode(kShortRead);
      if (byte == 0) StopWithCode(kShortRead);  // the data's last sub-block
      data->left_in_block = byte;
    }
    if (!NextByte(data->stream, &byte)) StopWithCode(kShortRead);
    --data->left_in_block;
    data->bits |= uint32_t{byte} << data->bit_count;
    data->bit_count += 8;
  }
  uint32_t code = data->bits & ((1u << width) - 1);
  data->bits >>= width;
  data->bit_count -= width;
  return code;
}

// Where the image's pixels go on the screen, row by row in stored order.
struct Painter {
  uint8_t* screen;
  uint32_t screen_width, screen_height;
  uint32_t left, top, width, height;
  bool interlaced;
  uint32_t visible;  // columns of a row that fall on the screen
  uint32_t x, y, pass, rows_done;
  uint8_t* row;  // the screen row of image row y, or nullptr when it's off the screen
};

constexpr uint32_t kPassStart[4] = {0, 4, 2, 1};
constexpr uint32_t kPassStep[4] = {8, 8, 4, 2};

void FindRow(Painter* painter) {
  uint64_t screen_y = uint64_t{painter->top} + painter->y;
  painter->row = screen_y < painter->screen_height && painter->visible > 0
                     ? painter->screen + screen_y * painter->screen_width + painter->left
                     : nullptr;
}

// Paints `count` indices; true once the image is complete.
bool Paint(Painter* painter, const uint8_t* indices, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    if (painter->row != nullptr && painter->x < painter->visible) painter->row[painter->x] = indices[k];
    if (++painter->x < painter->width) continue;
    painter->x = 0;
    if (++painter->rows_done == painter->height) return true;
    if (!painter->interlaced) {
      ++painter->y;
    } else {
      painter->y += kPassStep[painter->pass];
      while (painter->y >= painter->height) painter->y = kPassStart[++painter->pass];
    }
    FindRow(painter);
  }
  return false;
}

// The LZW table: each entry is an earlier entry's string and one index more.
uint16_t prefix[4096];
uint8_t suffix[4096];
uint8_t first[4096];
uint16_t length[4096];
uint8_t string[4096];

void DecodeImage(ImageData* data, uint32_t code_size, Painter* painter) {
  const uint32_t clear = 1u << code_size, end = clear + 1;
  for (uint32_t code = 0; code < clear; ++code) {
    suffix[code] = first[code] = static_cast<uint8_t>(code);
    length[code] = 1;
  }
  uint32_t next = clear + 2, width = code_size + 1;
  int32_t previous = -1;
  for (;;) {
    uint32_t code = NextCode(data, width);
    if (code == clear) {
      next = clear + 2;
      width = code_size + 1;
      previous = -1;
      continue;
    }
    if (code == end) StopWithCode(kShortRead);                                    // the data ends before the image does
    if (code > next || (code == next && previous < 0)) StopWithCode(kShortRead);  // a code not yet defined
    uint32_t size;
    uint8_t head;
    if (code < next) {
      size = length[code];
      head = first[code];
      for (uint32_t at = size, entry = code; at-- > 0; entry = prefix[entry]) string[at] = suffix[entry];
    } else {  // the entry this very code adds: the previous string and its own first index
      size = length[previous] + 1u;
      head = first[previous];
      for (uint32_t at = size - 1, entry = previous; at-- > 0; entry = prefix[entry]) string[at] = suffix[entry];
      string[size - 1] = head;
    }
    if (previous >= 0 && next < 4096) {
      prefix[next] = static_cast<uint16_t>(previous);
      suffix[next] = head;
      first[next] = first[previous];
      length[next] = static_cast<uint16_t>(length[previous] + 1);
      if (++next == 1u << width && width < 12) ++width;
    }
    if (Paint(painter, string, size)) return;
    previous = static_cast<int32_t>(code);
  }
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
  Painter painter = {};
  painter.left = LoadLittle16(descriptor), painter.top = LoadLittle16(descriptor + 2);
  painter.width = LoadLittle16(descriptor + 4), painter.height = LoadLittle16(descriptor + 6);
  // A side of the screen that is 0 takes the image's far edge on that side.
  const uint32_t width = screen_width != 0 ? screen_width : painter.left + painter.width;
  const uint32_t height = screen_height != 0 ? screen_height : painter.top + painter.height;
  if (width == 0 || height == 0) StopWithCode(kUnsupportedBitmap);
  if (width > 65535 || height > 65535) StopWithCode(kUnsupportedBitmap);
  const uint64_t picture_size = uint64_t{width} * height;
  if (picture_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(picture_size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  const Picture picture = {width, height, pixels, width, true, pixels};
  if (flags & 0x80 && background != 0) std::memset(pixels, background, picture_size);
  painter.screen = pixels;
  painter.screen_width = width, painter.screen_height = height;
  painter.interlaced = descriptor[8] & 0x40;
  if (palette != nullptr) ReadColourTable(&stream, ColourTableSize(descriptor[8]), palette);
  if (painter.width == 0 || painter.height == 0) return picture;  // it covers nothing
  painter.visible = painter.left < width ? std::min(painter.width, width - painter.left) : 0;
  FindRow(&painter);

  if (palette == nullptr && !SkipBytes(&stream, ColourTableSize(descriptor[8]))) StopWithCode(kShortRead);
  uint8_t code_size;
  if (!NextByte(&stream, &code_size)) StopWithCode(kShortRead);
  if (code_size < 2 || code_size > 8) StopWithCode(kShortRead);
  ImageData data = {&stream, 0, 0, 0};
  DecodeImage(&data, code_size, &painter);
  return picture;
}
