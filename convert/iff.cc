// IFF pictures: ILBM, the interleaved bitplanes of Deluxe Paint, and PBM,
// its variant of one byte a pixel. The file, big-endian:
//
//   form    "FORM" size:4 type:4, the type "ILBM" or "PBM "
//   chunks  id:4 size:4 and `size` bytes, and one byte more when `size` is
//           odd; in any order, BODY after BMHD:
//   BMHD    width:2 height:2 x:2 y:2 planes:1 masking:1 compression:1 pad:1
//           transparent:2 x-aspect:1 y-aspect:1 page-width:2 page-height:2
//           masking: 0 none, 1 a mask plane, 2 a transparent index, 3 lasso
//   CMAP    the palette: red, green, blue, a byte each, for index 0 on
//   CAMG    display mode:4; bit 11 hold-and-modify (HAM), bit 7 extra
//           half-brite (EHB)
//   DCOL    direct colour: the planes hold colour bits, not indices
//   BODY    the rows, top row first:
//             ILBM: each plane in turn, ((width + 15) / 16) x 2 bytes, the
//                   leftmost pixel in the most significant bit; plane p
//                   gives bit p of the index; with masking 1 the mask plane
//                   follows
//             PBM:  width bytes, one a pixel, padded to an even number
//           compression 0: as they are; 1 (ByteRun1): PackBits (pack_bits.h),
//           whose runs may cross rows and planes
//
// What converts: ILBM of 1 to 8 planes, PBM of 8 planes without a mask
// plane; masking 0 to 3, compression 0 or 1, width and height from 1. HAM and
// EHB pictures and those with DCOL hold colours that are not palette indices.
// Other chunks are passed over, and so is a second BMHD; CMAP too, unless
// tessera-palette, which asks for it, reads its size / 3 entries (at most
// 256). The mask plane is not read. Only BODY's own bytes are read (its size,
// or up to the end of the file if that comes sooner), and nothing after the
// byte that completes the picture.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/byte_stream.h"
#include "convert/pack_bits.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kHam = 1u << 11, kExtraHalfBrite = 1u << 7;

bool IsId(const uint8_t id[4], const char* name) { return std::memcmp(id, name, 4) == 0; }

// Byte k of spread[b] is bit 7 - k of b: the eight pixels one byte of a
// plane gives, each as bit 0 of its own byte.
uint64_t spread[256];

void FillSpread() {
  for (uint32_t b = 0; b < 256; ++b) {
    uint8_t bytes[8];
    for (uint32_t k = 0; k < 8; ++k) bytes[k] = b >> (7 - k) & 1;
    std::memcpy(&spread[b], bytes, 8);
  }
}

// Joins the planes of an ILBM row, `plane_bytes` apart, into `pixels`: eight
// indices for each byte of a plane.
void JoinPlanes(const uint8_t* row, uint32_t plane_bytes, uint32_t planes, uint8_t* pixels) {
  for (uint32_t at = 0; at < plane_bytes; ++at) {
    uint64_t eight = 0;
    for (uint32_t plane = 0; plane < planes; ++plane) eight |= spread[row[plane * plane_bytes + at]] << plane;
    std::memcpy(pixels + at * 8, &eight, 8);
  }
}

// The BODY's next `count` bytes into `out`, stored or packed, from no more
// than the bytes the BODY has left.
bool ReadBody(PackBits* body, bool packed, uint8_t* out, uint32_t count) {
  if (packed) return UnpackBits(body, out, count);
  if (body->budget < count || !ReadBytes(body->stream, out, count)) return false;
  body->budget -= count;
  return true;
}

}  // namespace

Picture ReadIff(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  ByteStream stream;
  StartStream(&stream, input, start, got);
  uint8_t form[12];
  if (!ReadBytes(&stream, form, sizeof form)) StopWithCode(kShortRead);
  const bool pbm = IsId(form + 8, "PBM ");
  if (!pbm && !IsId(form + 8, "ILBM")) StopWithCode(kUnsupportedBitmap);
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};

  uint8_t bmhd[20];
  bool have_bmhd = false;
  uint32_t width = 0, height = 0, planes = 0, masking = 0, compression = 0;
  uint8_t chunk[8];
  uint32_t size;
  for (;;) {
    if (!ReadBytes(&stream, chunk, sizeof chunk)) StopWithCode(kShortRead);  // the file ends before BODY
    size = LoadBig32(chunk + 4);
    const uint64_t padded = size + uint64_t{size & 1};
    if (IsId(chunk, "BODY")) break;
    if (IsId(chunk, "BMHD") && !have_bmhd) {
      if (size < sizeof bmhd) StopWithCode(kShortRead);
      if (!ReadBytes(&stream, bmhd, sizeof bmhd)) StopWithCode(kShortRead);
      width = LoadBig16(bmhd), height = LoadBig16(bmhd + 2);
      planes = bmhd[8], masking = bmhd[9], compression = bmhd[10];
      if (width == 0 || height == 0) StopWithCode(kUnsupportedBitmap);
      if (pbm ? planes != 8 || masking == 1 : planes == 0 || planes > 8) StopWithCode(kUnsupportedBitmap);
      if (masking > 3 || compression > 1) StopWithCode(kUnsupportedBitmap);
      if (uint64_t{width} * height >= kBlockLimit) StopWithCode(kOutOfMemory);
      if (!SkipBytes(&stream, padded - sizeof bmhd)) StopWithCode(kShortRead);
      have_bmhd = true;
      continue;
    }
    if (IsId(chunk, "DCOL")) StopWithCode(kUnsupportedBitmap);
    uint32_t read = 0;
    if (IsId(chunk, "CAMG") && size >= 4) {
      uint8_t mode[4];
      if (!ReadBytes(&stream, mode, sizeof mode)) StopWithCode(kShortRead);
      if (LoadBig32(mode) & (kHam | kExtraHalfBrite)) StopWithCode(kUnsupportedBitmap);
      read = 4;
    } else if (IsId(chunk, "CMAP") && palette != nullptr) {
      read = std::min(size / 3, 256u) * 3;
      if (!ReadBytes(&stream, &palette->colours[0][0], read)) StopWithCode(kShortRead);
      palette->count = read / 3;
    }
    if (!SkipBytes(&stream, padded - read)) StopWithCode(kShortRead);
  }
  if (!have_bmhd) StopWithCode(kShortRead);  // BODY before BMHD

  const uint64_t size_of_picture = uint64_t{width} * height;

  // The picture, then the stored row being read, then (ILBM) the row's
  // indices before they are cut to the width.
  const uint32_t plane_bytes = (width + 15) / 16 * 2;
  const uint32_t row_bytes = pbm ? (width + 1) / 2 * 2 : plane_bytes * (planes + (masking == 1));
  const uint32_t joined_bytes = pbm ? 0 : plane_bytes * 8;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(size_of_picture + row_bytes + joined_bytes));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  uint8_t* row = pixels + size_of_picture;
  uint8_t* joined = row + row_bytes;
  if (!pbm) FillSpread();

  PackBits body = {&stream, size, 0, false, 0};
  for (uint32_t y = 0; y < height; ++y) {
    if (!ReadBody(&body, compression == 1, row, row_bytes)) StopWithCode(kShortRead);
    uint8_t* out = pixels + uint64_t{y} * width;
    if (pbm) {
      std::memcpy(out, row, width);
    } else {
      JoinPlanes(row, plane_bytes, planes, joined);
      std::memcpy(out, joined, width);
    }
  }
  return {width, height, pixels, width, true, pixels};
}
