// Reads the bitmap that the calling script leaves as "vantrel.tmp": of its
// 14-byte file header only the pixel-data offset, of its information header
// the size, width, height, bits per pixel and compression, and the pixel data
// at the pixel-data offset. The colour table is passed over: a palette index
// becomes the same number in the frame. Only tessera-palette, which asks for
// the palette, has it read (ReadColourTable).
//
// Which bitmaps convert: palettized ones, whose indices a frame holds exactly.
//   - 8 bits per pixel, uncompressed: the stored block is read in one piece
//     and its rows written bottom row first (top row first for a top-down
//     bitmap, which has a negative height), without their padding.
//   - 1, 2 or 4 bits per pixel, uncompressed: the stored block is read in one
//     piece and each row expanded to one byte a pixel (decode.h).
//   - RLE8 with 8 bits, RLE4 with 4 bits, bottom-up only: the stream runs from
//     the pixel-data offset to the end of the file and is decoded into the
//     picture (decode.h). RLE8 under a bit count of 1 or 4, as Java's ImageIO
//     writes pictures of up to 16 colours, is read as RLE8 too: the indices
//     are in the data, whatever the bit count says. RLE4 under a bit count of
//     1 is not read: its runs are padded wrongly, and no reading of them
//     gives the right indices for every picture.
//   - An OS/2 bitmap's 12-byte core header holds 16-bit width and height and
//     no compression; a file may end right after it. Every other header is
//     read as its first 40 bytes, which shorter ones fill with the colour
//     table, and has no compression field below 20 bytes.
// Width and height up to 65535, what the frame's fields hold.
//
// Full colours, which only tessera-palette reads (ReadBitmapColours), from an
// information header of 40 bytes or more: 24 bits uncompressed (blue, green,
// red); 16 and 32 bits uncompressed (5 bits a channel, or blue, green, red
// and a byte unused) or with bit fields (compression 3, or 6 with an alpha
// mask), whose red, green and blue masks follow the 40-byte header or lie in
// a longer one, and whose alpha mask counts with compression 6 or a header of
// 56 bytes or more. A channel is scaled to 8 bits by repeating its bits.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/decode.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kCoreHeaderSize = 12;
enum Compression : uint32_t { kUncompressed = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

// How the pixel data lies, as the information header tells it.
struct Layout {
  uint32_t width;
  uint32_t height;
  bool top_down;
  uint32_t bits;
  uint32_t compression;
};

// Fills `layout` from the information header; false for a size no frame has.
bool ParseLayout(const uint8_t info_header[40], Layout* layout) {
  uint32_t header_size = LoadLittle32(info_header);
  if (header_size == kCoreHeaderSize) {
    *layout = {LoadLittle16(info_header + 4), LoadLittle16(info_header + 6), false, LoadLittle16(info_header + 10),
               kUncompressed};
  } else {
    int32_t width = static_cast<int32_t>(LoadLittle32(info_header + 4));
    int32_t height = static_cast<int32_t>(LoadLittle32(info_header + 8));
    if (width < 0 || width > 65535) return false;
    if (height == INT32_MIN || std::abs(height) > 65535) return false;
    *layout = {static_cast<uint32_t>(width), static_cast<uint32_t>(std::abs(height)), height < 0,
               LoadLittle16(info_header + 14), header_size >= 20 ? LoadLittle32(info_header + 16) : kUncompressed};
  }
  return true;
}

// Fills `layout` from the information header; false for a bitmap the program
// doesn't convert.
bool ReadLayout(const uint8_t info_header[40], Layout* layout) {
  if (!ParseLayout(info_header, layout)) return false;
  switch (layout->compression) {
    case kUncompressed:
      return layout->bits == 1 || layout->bits == 2 || layout->bits == 4 || layout->bits == 8;
    case kRle8:  // Java's writers give RLE8 data a bit count of 1 or 4 when there are 16 colours or fewer
      return (layout->bits == 1 || layout->bits == 4 || layout->bits == 8) && !layout->top_down;
    case kRle4:
      return layout->bits == 4 && !layout->top_down;
    default:
      return false;
  }
}

// Reads `size` bytes from the input into a block of their own.
uint8_t* ReadBlock(FileHandle input, uint64_t size) {
  uint8_t* block = static_cast<uint8_t*>(AllocateBlock(size));
  if (block == nullptr) StopWithCode(kOutOfMemory);
  uint32_t done;
  if (uint32_t error = FileRead(input, block, static_cast<uint32_t>(size), &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);
  return block;
}

// The colour table between the information header and the pixel data: 4-byte
// entries (blue, green, red, unused), 3-byte ones after a core header; as many
// as the colours-used field says, or 2^bits when it is 0, at most 256 and at
// most what fits before the pixel data.
void ReadColourTable(FileHandle input, const uint8_t info_header[40], uint32_t bits, int32_t pixel_offset,
                     Palette* palette) {
  const uint32_t header_size = LoadLittle32(info_header);
  const bool core = header_size == kCoreHeaderSize;
  const uint32_t entry_size = core ? 3 : 4;
  uint32_t count = !core && header_size >= 36 ? LoadLittle32(info_header + 32) : 0;
  if (count == 0) count = 1u << bits;
  const int64_t table_start = 14 + int64_t{header_size};
  const int64_t room = pixel_offset > table_start ? (pixel_offset - table_start) / entry_size : 0;
  count = static_cast<uint32_t>(std::min<int64_t>({count, 256, room}));
  *palette = {0, count, 8, {}, {}};
  if (count == 0) return;
  uint8_t table[256 * 4];
  uint32_t done;
  if (uint32_t error = FileSeek(input, static_cast<int32_t>(table_start))) StopWithCode(error);
  if (uint32_t error = FileRead(input, table, count * entry_size, &done)) StopWithCode(error);
  if (done != count * entry_size) StopWithCode(kShortRead);
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* entry = table + k * entry_size;
    palette->colours[k][0] = entry[2], palette->colours[k][1] = entry[1], palette->colours[k][2] = entry[0];
  }
}

// Reads the information header, whose first bytes came with the first read,
// as its first 40 bytes (or `size`, which may be more, to take the bit
// fields); an OS/2 core header may end the file after its 12 bytes.
void ReadInfoHeader(FileHandle input, const uint8_t* start, uint32_t got, uint8_t* info_header, uint32_t size) {
  if (got < 14) StopWithCode(kShortRead);
  const uint32_t held = got - 14;
  std::memcpy(info_header, start + 14, held);
  uint32_t done;
  if (uint32_t error = FileRead(input, info_header + held, size - held, &done)) StopWithCode(error);
  done += held;
  if (done < 40 && !(done >= kCoreHeaderSize && LoadLittle32(info_header) == kCoreHeaderSize)) {
    StopWithCode(kShortRead);
  }
}

}  // namespace

Picture ReadBitmap(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  uint8_t info_header[40];
  ReadInfoHeader(input, start, got, info_header, sizeof info_header);
  Layout layout;
  if (!ReadLayout(info_header, &layout)) StopWithCode(kUnsupportedBitmap);
  const uint32_t width = layout.width, height = layout.height;

  int32_t pixel_offset = static_cast<int32_t>(LoadLittle32(start + 10));
  if (palette != nullptr) ReadColourTable(input, info_header, layout.bits, pixel_offset, palette);
  if (uint32_t error = FileSeek(input, pixel_offset)) StopWithCode(error);

  // A stored row of uncompressed pixels, padded to a multiple of 4 bytes.
  uint32_t stride = static_cast<uint32_t>((uint64_t{width} * layout.bits + 31) / 32 * 4);
  uint64_t stored_size = uint64_t{stride} * height;
  uint64_t picture_size = uint64_t{width} * height;
  Picture picture = {width, height, nullptr, width, layout.top_down, nullptr};
  if (layout.bits == 8 && layout.compression == kUncompressed) {
    if (stored_size >= kBlockLimit) StopWithCode(kOutOfMemory);
    if (stored_size > 0) {  // an empty image has no pixels to read
      uint8_t* block = ReadBlock(input, stored_size);
      picture = {width, height, block, stride, layout.top_down, block};
    }
    return picture;
  }
  // Decoded into a picture of width x height bytes from what is read: the
  // stored block of 1-, 2- or 4-bit rows, or the RLE stream, which runs to
  // the end of the file.
  uint64_t data_size = stored_size;
  if (layout.compression != kUncompressed) {
    uint64_t file_size;
    if (uint32_t error = FileSize(input, &file_size)) StopWithCode(error);
    uint64_t data_start = static_cast<uint32_t>(pixel_offset);  // the seek refuses a negative one
    data_size = file_size > data_start ? file_size - data_start : 0;
  }
  if (std::max(data_size, picture_size) >= kBlockLimit) StopWithCode(kOutOfMemory);
  if (picture_size == 0) return picture;
  uint8_t* data = data_size > 0 ? ReadBlock(input, data_size) : nullptr;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(picture_size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  if (layout.compression == kUncompressed) {
    for (uint32_t row = 0; row < height; ++row) {
      ExpandRow(data + uint64_t{row} * stride, layout.bits, width, pixels + uint64_t{row} * width);
    }
  } else if (!DecodeRle(data, data_size, layout.compression == kRle8 ? 8 : 4, width, height, pixels)) {
    StopWithCode(kShortRead);
  }
  ReleaseBlock(data);
  picture.rows = pixels;
  picture.block = pixels;
  return picture;
}

namespace {

// The bits of `value` that `mask` selects, as 8 bits: fewer are repeated to
// fill them, more lose their lowest.
uint8_t Channel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask), width = std::popcount(mask);
  const uint32_t v = (value & mask) >> shift;
  if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
  uint32_t result = 0;
  for (int at = 8 - width; at > -width; at -= width) result |= at >= 0 ? v << at : v >> -at;
  return static_cast<uint8_t>(result);
}

}  // namespace

Picture ReadBitmapColours(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  // The 40-byte header, then the red, green and blue masks and the alpha
  // mask, which follow it or lie in a longer header.
  uint8_t info_header[56] = {};
  ReadInfoHeader(input, start, got, info_header, sizeof info_header);
  const uint32_t header_size = LoadLittle32(info_header);
  Layout layout;
  if (header_size < 40) StopWithCode(kUnreadColours);  // OS/2's
  if (!ParseLayout(info_header, &layout)) StopWithCode(kUnsupportedBitmap);
  const uint32_t bits = layout.bits, compression = layout.compression;
  const bool fields = compression == kBitFields || compression == kAlphaBitFields;
  if (!((bits == 24 && compression == kUncompressed) || ((bits == 16 || bits == 32) && (compression == 0 || fields)))) {
    StopWithCode(kUnreadColours);
  }
  uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
  if (bits == 16) masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
  if (fields) {
    for (int k = 0; k < 3; ++k) masks[k] = LoadLittle32(info_header + 40 + 4 * k);
  }
  if (compression == kAlphaBitFields || header_size >= 56) masks[3] = LoadLittle32(info_header + 52);

  const uint32_t width = layout.width, height = layout.height;
  const uint64_t stride = (uint64_t{width} * bits + 31) / 32 * 4, stored_size = stride * height;
  const uint64_t picture_size = uint64_t{width} * height * 4;
  if (std::max(stored_size, picture_size) >= kBlockLimit) StopWithCode(kOutOfMemory);
  Picture picture = {width, height, nullptr, width * 4, layout.top_down, nullptr, true};
  if (picture_size == 0) return picture;
  // The pixels must lie in the file before anything is allotted for them.
  const uint32_t offset = LoadLittle32(start + 10);
  uint64_t file_size;
  if (uint32_t error = FileSize(input, &file_size)) StopWithCode(error);
  if (offset > file_size || file_size - offset < stored_size) StopWithCode(kShortRead);
  if (uint32_t error = FileSeek(input, static_cast<int32_t>(offset))) StopWithCode(error);
  uint8_t* stored = ReadBlock(input, stored_size);
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(picture_size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  const uint32_t size = bits / 8;
  for (uint64_t y = 0; y < height; ++y) {
    const uint8_t* from = stored + y * stride;
    uint8_t* pixel = pixels + y * width * 4;
    for (uint32_t x = 0; x < width; ++x, from += size, pixel += 4) {
      const uint32_t value = size == 2   ? LoadLittle16(from)
                             : size == 3 ? LoadLittle16(from) | from[2] << 16
                                         : LoadLittle32(from);
      for (int k = 0; k < 3; ++k) pixel[k] = Channel(value, masks[k]);
      pixel[3] = masks[3] == 0 || Channel(value, masks[3]) != 0 ? 255 : 0;
    }
  }
  ReleaseBlock(stored);
  if (masks[3] != 0) ClearUnusedAlpha(pixels, uint64_t{width} * height);
  picture.rows = pixels;
  picture.block = pixels;
  return picture;
}
