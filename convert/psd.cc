// Photoshop documents (PSD) in indexed colour. The file, big-endian:
//
//   header       "8BPS" version:2 reserved:6 channels:2 height:4 width:4
//                depth:2 mode:2
//   colour mode  length:4 and that many bytes; in indexed colour 768 of them,
//   data         the palette: 256 reds, then 256 greens, then 256 blues
//   resources    length:4 and that many bytes
//   layers and   length:4 and that many bytes: the layers, each with
//   masks        channels of its own
//   image data   compression:2, then the merged picture: its channels one
//                after another, each `height` rows of `width` bytes
//                  0     as they are
//                  1     RLE: a table of channels x height 2-byte counts, the
//                        stored size of each row, then every row in PackBits
//                        (pack_bits.h)
//                  2, 3  zip, without and with prediction
//
// What converts: version 1 (version 2 is the large document format, PSB),
// mode 2 (indexed) with a depth of 8 bits and at least one channel, width and
// height 1 to 65535, compression 0 or 1. The first channel holds the indices;
// the frame is the merged picture, and the layers are never read. The colour
// mode data, the resources and the layers are passed over by their lengths;
// only tessera-palette, which asks for it, reads the palette from the colour
// mode data. The RLE counts are passed over too: the first channel's rows are
// read as one PackBits stream of width x height bytes, so counts that don't
// match their rows change nothing. Nothing after the byte that completes the
// first channel is read.
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/pack_bits.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kIndexedMode = 2;

// The colour mode data's palette, when it has the 768 bytes of one; the
// rest of the section is passed over.
void ReadPsdPalette(ByteStream* stream, uint32_t length, Palette* palette) {
  *palette = {0, 0, 8, {}, {}};
  uint32_t read = 0;
  if (length >= 768) {
    uint8_t planes[768];
    if (!ReadBytes(stream, planes, sizeof planes)) StopWithCode(kShortRead);
    for (uint32_t index = 0; index < 256; ++index) {
      for (uint32_t channel = 0; channel < 3; ++channel)
        palette->colours[index][channel] = planes[channel * 256 + index];
    }
    palette->count = 256;
    read = 768;
  }
  if (!SkipBytes(stream, length - read)) StopWithCode(kShortRead);
}

}  // namespace

Picture ReadPsd(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  StartStream(&stream, input, start, got);
  uint8_t header[26];
  if (!ReadBytes(&stream, header, sizeof header)) StopWithCode(kShortRead);
  const uint32_t version = LoadBig16(header + 4), channels = LoadBig16(header + 12);
  const uint32_t height = LoadBig32(header + 14), width = LoadBig32(header + 18);
  const uint32_t depth = LoadBig16(header + 22), mode = LoadBig16(header + 24);
  if (version != 1) StopWithCode(kUnsupportedBitmap);
  if (mode != kIndexedMode || depth != 8 || channels == 0) StopWithCode(kUnsupportedBitmap);
  if (width == 0 || height == 0 || width > 65535 || height > 65535) StopWithCode(kUnsupportedBitmap);
  const uint64_t size = uint64_t{width} * height;
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);

  uint8_t length[4];
  if (!ReadBytes(&stream, length, sizeof length)) StopWithCode(kShortRead);
  if (palette != nullptr) {
    ReadPsdPalette(&stream, LoadBig32(length), palette);
  } else if (!SkipBytes(&stream, LoadBig32(length))) {
    StopWithCode(kShortRead);
  }
  if (!ReadBytes(&stream, length, sizeof length)) StopWithCode(kShortRead);
  if (!SkipBytes(&stream, LoadBig32(length))) StopWithCode(kShortRead);  // the resources
  if (!ReadBytes(&stream, length, sizeof length)) StopWithCode(kShortRead);
  if (!SkipBytes(&stream, LoadBig32(length))) StopWithCode(kShortRead);  // the layers and masks
  uint8_t compression[2];
  if (!ReadBytes(&stream, compression, sizeof compression)) StopWithCode(kShortRead);
  const uint32_t method = LoadBig16(compression);
  if (method > 1) StopWithCode(kUnsupportedBitmap);

  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  if (method == 0) {
    if (!ReadBytes(&stream, pixels, size)) StopWithCode(kShortRead);
  } else {
    if (!SkipBytes(&stream, uint64_t{channels} * height * 2)) StopWithCode(kShortRead);  // the row counts
    PackBits packed = {&stream, UINT64_MAX, 0, false, 0};
    if (!UnpackBits(&packed, pixels, size)) StopWithCode(kShortRead);
  }
  return {width, height, pixels, width, true, pixels};
}
