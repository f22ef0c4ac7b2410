// Full-colour pictures, which only remap reads: tessera and check have no use
// for pixels that are colours rather than indices. The file is read whole and
// decoded into red, green, blue and a flag of transparency a pixel, the top
// row first.
//
//   bitmap  24 bits uncompressed (blue, green, red); 16 and 32 bits either
//           uncompressed (5 bits a channel, or blue, green, red, unused) or
//           with bit fields, whose masks follow the 40-byte header or lie in
//           a longer one. The fourth byte is alpha only when the header gives
//           an alpha mask (a header of 56 bytes or more, or compression 6).
//   PNG     colour types 0 (grey), 2 (red, green, blue), 4 (grey, alpha) and
//           6 (red, green, blue, alpha) at 8 or 16 bits a channel, of which
//           the high byte is taken; tRNS gives the transparent grey or colour
//           of types 0 and 2. Interlaced (Adam7) or not.
//   TGA     types 2 (as stored) and 10 (in packets of whole pixels), 24 or 32
//           bits: blue, green, red and alpha.
// A channel of fewer than 8 bits is scaled up by repeating its bits, as
// (v << 3) | (v >> 2) for 5 bits. Alpha 0 is transparent, any other alpha
// opaque; a bitmap or TGA whose alpha is 0 in every pixel is opaque, since
// many writers leave that byte unused.
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

void Allot(Colours* colours, uint64_t width, uint64_t height) {
  if (width > kBlockLimit || height > kBlockLimit || width * height * 4 >= kBlockLimit) StopWithCode(kOutOfMemory);
  colours->width = static_cast<uint32_t>(width);
  colours->height = static_cast<uint32_t>(height);
  colours->pixels.assign(width * height * 4, 255);
}

// A picture whose alpha is 0 everywhere has no alpha at all.
void ClearUnusedAlpha(Colours* colours) {
  for (size_t at = 3; at < colours->pixels.size(); at += 4) {
    if (colours->pixels[at] != 0) return;
  }
  for (size_t at = 3; at < colours->pixels.size(); at += 4) colours->pixels[at] = 255;
}

// The bits of `value` that `mask` selects, as 8 bits.
uint8_t Channel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask), width = std::popcount(mask);
  const uint32_t v = (value & mask) >> shift;
  if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
  uint32_t result = 0;
  for (int at = 8 - width; at > -width; at -= width) result |= at >= 0 ? v << at : v >> -at;
  return static_cast<uint8_t>(result);
}

void ReadBitmapColours(const std::string& file, Colours* colours) {
  if (file.size() < 54) StopWithCode(kShortRead);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
  const uint32_t header_size = LoadLittle32(bytes + 14);
  if (header_size < 40) ThrowProblem("an OS/2 bitmap of more than 8 bits, which remap does not read");
  const int32_t width = static_cast<int32_t>(LoadLittle32(bytes + 18));
  const int32_t height = static_cast<int32_t>(LoadLittle32(bytes + 22));
  const uint32_t bits = LoadLittle16(bytes + 28), compression = LoadLittle32(bytes + 30);
  const bool fields = compression == 3 || compression == 6;
  if (!((bits == 24 && compression == 0) || ((bits == 16 || bits == 32) && (compression == 0 || fields)))) {
    ThrowProblem("a " + std::to_string(bits) + "-bit bitmap of compression " + std::to_string(compression) +
                 ", which remap does not read");
  }
  if (width < 0 || height == INT32_MIN) StopWithCode(kShortRead);
  uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
  if (bits == 16) masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
  if (fields && file.size() >= 66) {
    for (int k = 0; k < 3; ++k) masks[k] = LoadLittle32(bytes + 54 + 4 * k);
  }
  if ((compression == 6 || header_size >= 56) && file.size() >= 70) masks[3] = LoadLittle32(bytes + 66);
  const uint64_t rows = static_cast<uint64_t>(std::abs(int64_t{height}));
  const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
  const uint64_t offset = LoadLittle32(bytes + 10);
  Allot(colours, static_cast<uint32_t>(width), rows);  // first: it refuses sizes whose stored block overflows
  if (offset > file.size() || (file.size() - offset) < stride * rows) StopWithCode(kShortRead);
  const uint32_t size = bits / 8;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* stored = bytes + offset + (height < 0 ? y : rows - 1 - y) * stride;
    uint8_t* pixel = &colours->pixels[y * colours->width * 4];
    for (uint32_t x = 0; x < colours->width; ++x, stored += size, pixel += 4) {
      const uint32_t value = size == 2   ? LoadLittle16(stored)
                             : size == 3 ? LoadLittle16(stored) | stored[2] << 16
                                         : LoadLittle32(stored);
      for (int k = 0; k < 3; ++k) pixel[k] = Channel(value, masks[k]);
      if (masks[3] != 0) pixel[3] = Channel(value, masks[3]) == 0 ? 0 : 255;
    }
  }
  ClearUnusedAlpha(colours);
}

void ReadPngColours(const std::string& file, Colours* colours) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
  uint32_t width = 0, height = 0, depth = 0, type = 0;
  bool header = false, interlaced = false;
  std::vector<uint8_t> data;
  uint32_t key[3] = {};
  bool keyed = false;
  for (size_t at = 8;;) {
    if (file.size() - at < 12) StopWithCode(kShortRead);
    const uint32_t length = LoadBig32(bytes + at);
    if (file.size() - at - 12 < length) StopWithCode(kShortRead);
    const uint8_t* chunk = bytes + at + 4;
    if (crc32(0, chunk, length + 4) != LoadBig32(chunk + 4 + length)) StopWithCode(kShortRead);
    const uint8_t* body = chunk + 4;
    at += 12 + uint64_t{length};
    if (std::memcmp(chunk, "IHDR", 4) == 0 && length == 13) {
      width = LoadBig32(body), height = LoadBig32(body + 4), depth = body[8], type = body[9];
      if (width == 0 || height == 0 || body[10] != 0 || body[11] != 0) StopWithCode(kShortRead);
      if (body[12] > 1) StopWithCode(kShortRead);
      if ((depth != 8 && depth != 16) || (type != 0 && type != 2 && type != 4 && type != 6)) {
        ThrowProblem("a PNG of colour type " + std::to_string(type) + " at " + std::to_string(depth) +
                     " bits, which remap does not read");
      }
      interlaced = body[12] == 1;
      header = true;
    } else if (!header) {
      StopWithCode(kShortRead);
    } else if (std::memcmp(chunk, "tRNS", 4) == 0 && length >= (type == 0 ? 2u : 6u)) {
      for (uint32_t k = 0; k < (type == 0 ? 1u : 3u); ++k) key[k] = body[2 * k] << 8 | body[2 * k + 1];
      keyed = true;
    } else if (std::memcmp(chunk, "IDAT", 4) == 0) {
      data.insert(data.end(), body, body + length);
    } else if (std::memcmp(chunk, "IEND", 4) == 0) {
      break;
    }
  }
  const uint32_t channels = type == 0 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4, sample = depth / 8;
  const uint32_t step = channels * sample;
  const uint64_t row_size = uint64_t{width} * step;
  Allot(colours, width, height);
  if (row_size + 1 >= kBlockLimit) StopWithCode(kOutOfMemory);
  // The rows are inflated one at a time beside the one above; the stream's
  // checksum is never read, as tessera's own PNG reader leaves it. An
  // interlaced picture's seven passes each take every dx-th column from x0 of
  // every dy-th row from y0.
  constexpr uint32_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  constexpr uint32_t kWhole[1][4] = {{0, 0, 1, 1}};
  std::vector<uint8_t> lines(2 * (row_size + 1));
  z_stream stream = {};
  if (data.size() < 2) StopWithCode(kShortRead);
  if (inflateInit2(&stream, -15) != Z_OK) StopWithCode(kOutOfMemory);
  stream.next_in = data.data() + 2;  // past the zlib header
  stream.avail_in = static_cast<uInt>(data.size() - 2);
  for (uint32_t pass = 0; pass < (interlaced ? 7u : 1u); ++pass) {
    const uint32_t* p = interlaced ? kAdam7[pass] : kWhole[0];
    const uint32_t columns = width > p[0] ? (width - p[0] + p[2] - 1) / p[2] : 0;
    const uint32_t size = columns * step;  // of a row of this pass, without its filter byte
    uint8_t *row = lines.data(), *prior = row + row_size + 1;
    std::memset(prior, 0, size + 1);
    for (uint32_t y = p[1]; columns > 0 && y < height; y += p[3]) {
      stream.next_out = row;
      stream.avail_out = size + 1;
      const int result = inflate(&stream, Z_SYNC_FLUSH);
      if ((result != Z_OK && result != Z_STREAM_END) || stream.avail_out != 0 || row[0] > 4) {
        inflateEnd(&stream);
        StopWithCode(kShortRead);
      }
      UnfilterPngRow(row[0], row + 1, prior + 1, size, step);
      uint8_t* pixel = &colours->pixels[(uint64_t{y} * width + p[0]) * 4];
      const uint8_t* stored = row + 1;
      const uint32_t next = 4 * p[2];
      if (sample == 1 && channels >= 3) {  // the commonest: 8-bit colour, with alpha or without
        for (uint32_t x = 0; x < columns; ++x, pixel += next, stored += step) {
          pixel[0] = stored[0], pixel[1] = stored[1], pixel[2] = stored[2];
          pixel[3] = channels == 4 && stored[3] == 0 ? 0 : 255;
          if (keyed && channels == 3 && stored[0] == key[0] && stored[1] == key[1] && stored[2] == key[2]) {
            pixel[3] = 0;
          }
        }
      }
      for (uint32_t x = 0; x < columns && !(sample == 1 && channels >= 3); ++x, pixel += next, stored += step) {
        uint32_t values[4];
        for (uint32_t k = 0; k < channels; ++k) {
          values[k] = sample == 2 ? stored[2 * k] << 8 | stored[2 * k + 1] : stored[k];
          pixel[std::min(k, 3u)] = stored[k * sample];
        }
        if (channels <= 2) pixel[1] = pixel[2] = pixel[0], pixel[3] = channels == 2 && values[1] == 0 ? 0 : 255;
        if (channels == 4) pixel[3] = values[3] == 0 ? 0 : 255;
        if (keyed && channels != 2 && channels != 4 && values[0] == key[0] &&
            (channels == 1 || (values[1] == key[1] && values[2] == key[2]))) {
          pixel[3] = 0;
        }
      }
      std::swap(row, prior);
    }
  }
  inflateEnd(&stream);
}

void ReadTgaColours(const std::string& file, Colours* colours) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
  if (file.size() < 18) StopWithCode(kShortRead);
  const uint32_t type = bytes[2], depth = bytes[16], descriptor = bytes[17];
  if ((type != 2 && type != 10) || (depth != 24 && depth != 32)) {
    ThrowProblem("a TGA of type " + std::to_string(type) + " at " + std::to_string(depth) +
                 " bits, which remap does not read");
  }
  const uint64_t map_size = bytes[1] == 1 ? uint64_t{LoadLittle16(bytes + 5)} * ((bytes[7] + 7) / 8) : 0;
  size_t at = 18 + bytes[0] + map_size;
  const uint32_t width = LoadLittle16(bytes + 12), height = LoadLittle16(bytes + 14), size = depth / 8;
  Allot(colours, width, height);
  const uint64_t count = uint64_t{width} * height;
  uint8_t pixel[4] = {};
  for (uint64_t done = 0, run = 0, literal = 0; done < count; ++done) {
    if (type == 10 && run == 0 && literal == 0) {
      if (at >= file.size()) StopWithCode(kShortRead);
      const uint8_t head = bytes[at++];
      (head & 0x80 ? run : literal) = (head & 0x7F) + 1u;
      if (run > 0) {
        if (file.size() - at < size) StopWithCode(kShortRead);
        std::memcpy(pixel, bytes + at, size);
        at += size;
      }
    }
    if (type == 2 || literal > 0) {
      if (file.size() - at < size) StopWithCode(kShortRead);
      std::memcpy(pixel, bytes + at, size);
      at += size;
      if (literal > 0) --literal;
    } else {
      --run;
    }
    const uint64_t row = done / width, column = done % width;
    const uint64_t y = descriptor & 0x20 ? row : height - 1 - row;
    const uint64_t x = descriptor & 0x10 ? width - 1 - column : column;
    uint8_t* out = &colours->pixels[(y * width + x) * 4];
    out[0] = pixel[2], out[1] = pixel[1], out[2] = pixel[0], out[3] = size == 4 && pixel[3] == 0 ? 0 : 255;
  }
  if (size == 4) ClearUnusedAlpha(colours);
}

}  // namespace

bool IsFullColour(const uint8_t* head, uint32_t got, Reader reader) {
  if (reader == ReadPng) return got >= 26 && head[25] != 3;
  if (reader == ReadTga) return head[2] != 1 && head[2] != 9;
  if (reader == ReadPcx) return got >= 66 && head[65] >= 3 && head[3] == 8;
  if (reader == ReadBitmap && got >= 30) {
    const bool core = (head[14] | head[15] << 8) == 12;
    return LoadLittle16(head + (core ? 24 : 28)) > 8;
  }
  return false;
}

void ReadFullColour(FileHandle input, Reader reader, Colours* colours) {
  if (reader == ReadPcx) ThrowProblem("a full-colour PCX, which remap does not read");
  uint64_t size;
  if (uint32_t error = FileSize(input, &size)) StopWithCode(error);
  if (size >= kBlockLimit) StopWithCode(kOutOfMemory);
  std::string file(size, '\0');
  uint32_t done;
  if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
  if (uint32_t error = FileRead(input, file.data(), static_cast<uint32_t>(size), &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);
  if (reader == ReadBitmap) {
    ReadBitmapColours(file, colours);
  } else if (reader == ReadPng) {
    ReadPngColours(file, colours);
  } else {
    ReadTgaColours(file, colours);
  }
}
