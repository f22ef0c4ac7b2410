// libFuzzer target for the conversion. Each input is left as "vantrel.tmp" in
// a private directory and converted over an earlier frame, as the program
// would. StopWithCode comes back here (as an exception) instead of ending the
// process, after the same clean-up a real stop does. Then the outcome is
// checked against one worked out independently of the program, from the
// formats' descriptions alone (Expect, ExpectPng):
// - status 0: "pic.frm" is exactly the 74-byte header the picture's size calls
//   for and its pixels, uncompressed or decoded;
// - a stop: exactly the code the input calls for, and the earlier frame
//   untouched;
// - either way: "vantrel.tmp" unchanged and no other file left behind.
// GIF, TIFF, TGA, PCX, PSD and IFF files are checked only for what must hold
// whatever they hold (ExpectFrameOrStop): a code the program has, a frame
// exactly as long as its header says, and the same untouched earlier frame
// and clean directory. Their pixels are checked by the end-to-end tables and
// corpus.
// The custom mutator makes the CRCs of a PNG's chunks right again half the
// time, so that a mutation reaches what the chunk holds instead of stopping
// at its CRC.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convert/convert_bitmap.h"
#include "convert/fuzz_directory.h"
#include "frontend/stop.h"
#include "platform/platform.h"
#include "zlib.h"

namespace {

struct Stopped {
  uint32_t code;
};

const std::string kOldFrame = "an earlier frame";

std::string Contents(const char* name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Put(const char* name, const void* data, size_t size) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

int64_t Int32(const uint8_t* bytes) {
  return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

int64_t Uint32(const uint8_t* bytes) { return static_cast<uint32_t>(Int32(bytes)); }

int64_t Uint16(const uint8_t* bytes) { return bytes[0] | bytes[1] << 8; }

int64_t Big16(const uint8_t* bytes) { return bytes[0] << 8 | bytes[1]; }
int64_t Big32(const uint8_t* bytes) { return int64_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]; }

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

struct Outcome {
  uint32_t status;
  std::string frame;
};

// Decoding a run-length picture this large would write a frame of many
// megabytes from a few bytes of input, and slow the fuzzer to a crawl.
constexpr int64_t kLargestDecodedPicture = int64_t{1} << 20;

bool IsLargeRunLengthPicture(const uint8_t* data, size_t size) {
  if (size < 54 || Uint32(data + 14) == 12) return false;
  int64_t compression = Uint32(data + 14) >= 20 ? Uint32(data + 30) : 0;
  int64_t height = Int32(data + 22);
  return (compression == 1 || compression == 2) &&
         Int32(data + 18) * (height < 0 ? -height : height) > kLargestDecodedPicture;
}

// The frame's 74-byte header for a picture of width x height.
std::string FrameHeader(int64_t width, int64_t height) {
  uint8_t header[74] = {0, 0, 0, 4, 0, 0, 0, 0, 0, 1};
  auto big32 = [&](int at, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  };
  const uint32_t pixels = static_cast<uint32_t>(width * height);
  big32(58, pixels + 12);
  header[62] = static_cast<uint8_t>(width >> 8), header[63] = static_cast<uint8_t>(width);
  header[64] = static_cast<uint8_t>(height >> 8), header[65] = static_cast<uint8_t>(height);
  big32(66, pixels);
  return std::string(reinterpret_cast<char*>(header), sizeof header);
}

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool IsPng(const uint8_t* data, size_t size) { return size >= 8 && std::memcmp(data, kPngSignature, 8) == 0; }

// The status of a PNG that would only be checked with a lot of work: one
// whose image data is inflated into a picture of more than
// kLargestDecodedPicture pixels.
constexpr uint32_t kNotWorthChecking = ~uint32_t{0};

// A picture's passes, as (first column, first row, column step, row step):
// Adam7's seven, or the one pass of a picture that isn't interlaced.
constexpr int64_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr int64_t kWhole[1][4] = {{0, 0, 1, 1}};

// Columns or rows of a pass that starts at `first` and steps by `step`, of `size`.
int64_t PassSize(int64_t size, int64_t first, int64_t step) {
  return size > first ? (size - first + step - 1) / step : 0;
}

// What converting the PNG must give. The chunks are walked first; the image
// data, once enough of it has been inflated, is unfiltered whole, pass by
// pass, and only then are the pixels put in place.
Outcome ExpectPng(const uint8_t* data, size_t size) {
  const int64_t limit = (int64_t{1} << 31) - 7;
  int64_t width = 0, height = 0, depth = 0, inflated_size = 0;
  const int64_t(*passes)[4] = kWhole;
  int pass_count = 1;
  bool seen_header = false, in_image_data = false;
  std::vector<uint8_t> inflated;
  z_stream stream = {};
  bool complete = false;
  Outcome outcome = {kShortRead, ""};
  for (int64_t at = 8; !complete;) {
    const int64_t left = static_cast<int64_t>(size) - at;
    if (left < 8) break;
    const int64_t length = Big32(data + at);
    if (12 + length > left) break;
    const uint8_t* type = data + at + 4;
    const uint8_t* content = type + 4;
    if (length + 4 >= limit) {  // read whole into memory, so refused before its CRC is known
      outcome.status = kOutOfMemory;
      break;
    }
    if (Big32(content + length) != static_cast<int64_t>(crc32(0, type, static_cast<uInt>(4 + length)))) break;
    at += 12 + length;
    const bool is_image_data = std::memcmp(type, "IDAT", 4) == 0;
    if (!seen_header) {
      if (std::memcmp(type, "IHDR", 4) != 0 || length != 13) {
        outcome.status = kUnsupportedBitmap;
        break;
      }
      seen_header = true;
      width = Big32(content), height = Big32(content + 4), depth = content[8];
      if (width < 1 || width > 65535 || height < 1 || height > 65535 ||
          !(depth == 1 || depth == 2 || depth == 4 || depth == 8) || content[9] != 3 || content[10] != 0 ||
          content[11] != 0 || content[12] > 1) {
        outcome.status = kUnsupportedBitmap;
        break;
      }
      if (content[12] == 1) passes = kAdam7, pass_count = 7;
      for (int pass = 0; pass < pass_count; ++pass) {
        const int64_t columns = PassSize(width, passes[pass][0], passes[pass][2]);
        const int64_t rows = PassSize(height, passes[pass][1], passes[pass][3]);
        if (columns > 0 && rows > 0) inflated_size += rows * (1 + (columns * depth + 7) / 8);
      }
      if (inflated_size >= limit || width * height >= limit) {
        outcome.status = kOutOfMemory;
        break;
      }
    } else if (is_image_data) {
      if (width * height > kLargestDecodedPicture) return {kNotWorthChecking, ""};
      if (!in_image_data) {
        in_image_data = true;
        inflated.resize(inflated_size);
        if (inflateInit(&stream) != Z_OK) std::abort();
        stream.next_out = inflated.data();
        stream.avail_out = static_cast<uInt>(inflated_size);
      }
      // Inflated into one block for all the image data: the picture is
      // complete once the block is full, whatever zlib says about the rest
      // of the stream, even a broken one.
      stream.next_in = const_cast<uint8_t*>(content);
      stream.avail_in = static_cast<uInt>(length);
      int result = inflate(&stream, Z_NO_FLUSH);
      complete = stream.avail_out == 0;
      if (!complete && result != Z_OK && !(result == Z_BUF_ERROR && stream.avail_in == 0)) break;
    } else if (in_image_data || std::memcmp(type, "IEND", 4) == 0) {
      break;
    } else if ((type[0] & 0x20) == 0 && std::memcmp(type, "PLTE", 4) != 0) {
      outcome.status = kUnsupportedBitmap;
      break;
    }
  }
  if (in_image_data) inflateEnd(&stream);
  if (!complete) return outcome;

  // Rows are unfiltered where they lie, each pass's first row against a row
  // of zeros, then unpacked into the picture.
  std::string picture(width * height, '\0');
  uint8_t* row = inflated.data();
  for (int pass = 0; pass < pass_count; ++pass) {
    const int64_t first_x = passes[pass][0], first_y = passes[pass][1];
    const int64_t step_x = passes[pass][2], step_y = passes[pass][3];
    const int64_t columns = PassSize(width, first_x, step_x), rows = PassSize(height, first_y, step_y);
    if (columns == 0 || rows == 0) continue;
    const int64_t bytes = (columns * depth + 7) / 8;
    std::vector<uint8_t> zeros(bytes + 1, 0);
    const uint8_t* above = zeros.data();
    for (int64_t r = 0; r < rows; ++r, above = row, row += 1 + bytes) {
      const int64_t filter = row[0];
      if (filter > 4) return {kShortRead, ""};
      for (int64_t i = 1; i <= bytes; ++i) {
        const int64_t a = i > 1 ? row[i - 1] : 0, b = above[i], c = i > 1 ? above[i - 1] : 0;
        int64_t predicted = 0;
        if (filter == 1) predicted = a;
        if (filter == 2) predicted = b;
        if (filter == 3) predicted = (a + b) / 2;
        if (filter == 4) {
          const int64_t estimate = a + b - c;
          const int64_t to_a = std::abs(estimate - a), to_b = std::abs(estimate - b), to_c = std::abs(estimate - c);
          predicted = to_a <= to_b && to_a <= to_c ? a : to_b <= to_c ? b : c;
        }
        row[i] = static_cast<uint8_t>((row[i] + predicted) % 256);
      }
      for (int64_t x = 0; x < columns; ++x) {
        const int64_t bit = x * depth;  // from the row's first, most significant bit
        const int64_t index = row[1 + bit / 8] >> (8 - depth - bit % 8) & ((1 << depth) - 1);
        picture[(first_y + r * step_y) * width + first_x + x * step_x] = static_cast<char>(index);
      }
    }
  }
  return {0, FrameHeader(width, height) + picture};
}

// The formats that are told by their first bytes after PNG and before a
// bitmap: a GIF signature; a TIFF one, classic or BigTIFF; not "BM" and a PCX
// header; not "BM" and a TGA header.
bool IsGif(const uint8_t* data, size_t size) {
  return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

bool IsPcx(const uint8_t* data, size_t size) {
  return size >= 4 && data[0] == 10 && (data[1] == 0 || (data[1] >= 2 && data[1] <= 5)) && data[2] <= 1 &&
         (data[3] == 1 || data[3] == 2 || data[3] == 4 || data[3] == 8);
}

bool IsTga(const uint8_t* data, size_t size) {
  auto one_of = [](int value, std::initializer_list<int> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
  };
  return size >= 17 && data[1] <= 1 && one_of(data[2], {1, 2, 3, 9, 10, 11}) && one_of(data[16], {8, 15, 16, 24, 32}) &&
         (data[1] == 0 || one_of(data[7], {15, 16, 24, 32}));
}

bool IsTiff(const uint8_t* data, size_t size) {
  return size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0 ||
                       std::memcmp(data, "II+\0", 4) == 0 || std::memcmp(data, "MM\0+", 4) == 0);
}

// The picture size the first ImageWidth and ImageLength entries with values
// of a TIFF's first directory give, as far as the directory lies in the data.
int64_t TiffPixels(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const bool big = data[0] == 'M';
  auto load16 = [big](const uint8_t* bytes) -> int64_t { return big ? bytes[0] << 8 | bytes[1] : Uint16(bytes); };
  auto load32 = [big](const uint8_t* bytes) -> int64_t { return big ? Big32(bytes) : Uint32(bytes); };
  const int64_t directory = load32(data + 4), end = static_cast<int64_t>(size);
  if (directory + 2 > end) return 0;
  int64_t sides[2] = {-1, -1};
  for (int64_t k = 0, at = directory + 2; k < load16(data + directory) && at + 12 <= end; ++k, at += 12) {
    const int64_t tag = load16(data + at), type = load16(data + at + 2);
    if ((tag != 256 && tag != 257) || load32(data + at + 4) == 0 || sides[tag - 256] >= 0) continue;
    sides[tag - 256] = type == 1 ? data[at + 8] : type == 3 ? load16(data + at + 8) : load32(data + at + 8);
  }
  // A side past what a frame holds is refused before any decoding: 65536 stands for it.
  return std::clamp<int64_t>(sides[0], 0, 65536) * std::clamp<int64_t>(sides[1], 0, 65536);
}

// A GIF's picture size: the logical screen's, a side of 0 taken from the
// first image's far edge; 0 when the file ends before that is known.
int64_t GifPixels(const uint8_t* data, size_t size) {
  if (size < 13) return 0;
  size_t at = 13 + (data[10] & 0x80 ? 3u << ((data[10] & 7) + 1) : 0);
  while (at + 2 <= size && data[at] == 0x21) {  // extensions: label, then sub-blocks
    for (at += 2; at < size && data[at] != 0; at += 1 + data[at]) {
    }
    ++at;
  }
  int64_t width = Uint16(data + 6), height = Uint16(data + 8);
  if ((width == 0 || height == 0) && (at + 9 > size || data[at] != 0x2C)) return 0;
  if (width == 0) width = Uint16(data + at + 1) + Uint16(data + at + 5);
  if (height == 0) height = Uint16(data + at + 3) + Uint16(data + at + 7);
  return width * height;
}

// An IFF picture's size, from its first BMHD before BODY; 0 without one.
int64_t IffPixels(const uint8_t* data, size_t size) {
  for (size_t at = 12; at + 12 <= size; at += 8 + Big32(data + at + 4) + (Big32(data + at + 4) & 1)) {
    if (std::memcmp(data + at, "BODY", 4) == 0) break;
    if (std::memcmp(data + at, "BMHD", 4) == 0) return Big16(data + at + 8) * Big16(data + at + 10);
  }
  return 0;
}

// The picture size a GIF, TIFF, PCX, TGA, PSD or IFF header gives (0 when the
// header is cut short or the size is negative or past what a frame holds),
// or -1 for a file of another format.
int64_t OtherFormatPixels(const uint8_t* data, size_t size) {
  int64_t pixels;
  if (IsGif(data, size)) {
    pixels = GifPixels(data, size);
  } else if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
    return -1;
  } else if (IsTiff(data, size)) {
    pixels = TiffPixels(data, size);
  } else if (size >= 4 && std::memcmp(data, "8BPS", 4) == 0) {
    const int64_t height = size >= 26 ? Big32(data + 14) : 0, width = size >= 26 ? Big32(data + 18) : 0;
    pixels = width <= 65535 && height <= 65535 ? width * height : 0;
  } else if (size >= 4 && std::memcmp(data, "FORM", 4) == 0) {
    pixels = IffPixels(data, size);
  } else if (IsPcx(data, size)) {
    pixels = size >= 12 ? (Uint16(data + 8) - Uint16(data + 4) + 1) * (Uint16(data + 10) - Uint16(data + 6) + 1) : 0;
  } else if (IsTga(data, size)) {
    pixels = size >= 16 ? Uint16(data + 12) * Uint16(data + 14) : 0;
  } else {
    return -1;
  }
  return std::max<int64_t>(pixels, 0);
}

// What converting the input must give: a PNG's outcome, or a bitmap's, in
// 64-bit arithmetic throughout.
Outcome Expect(const uint8_t* data, size_t size) {
  if (IsPng(data, size)) return ExpectPng(data, size);
  if (size < 14) return {kShortRead, ""};
  const bool core = size >= 26 && Uint32(data + 14) == 12;  // OS/2: 12 header bytes are enough
  if (size < 54 && !core) return {kShortRead, ""};
  int64_t width, height, bits, compression;
  bool top_down = false;
  if (core) {
    width = Uint16(data + 18), height = Uint16(data + 20), bits = Uint16(data + 24), compression = 0;
  } else {
    width = Int32(data + 18), height = Int32(data + 22), bits = Uint16(data + 28);
    compression = Uint32(data + 14) >= 20 ? Uint32(data + 30) : 0;
    top_down = height < 0;
    if (top_down) height = -height;
  }
  const bool known = (compression == 0 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) ||
                     // RLE8 under a bit count of 1 or 4 too, as Java's writers give it
                     (compression == 1 && (bits == 1 || bits == 4 || bits == 8) && !top_down) ||
                     (compression == 2 && bits == 4 && !top_down);
  if (!known || width < 0 || width > 65535 || height > 65535) return {kUnsupportedBitmap, ""};
  const int64_t offset = Int32(data + 10);
  if (offset < 0) return {EINVAL, ""};

  const int64_t stride = (width * bits + 31) / 32 * 4;
  const int64_t stored = compression == 0 ? stride * height : std::max<int64_t>(0, static_cast<int64_t>(size) - offset);
  if (std::max(stored, width * height) >= (int64_t{1} << 31) - 7) return {kOutOfMemory, ""};

  const uint32_t pixels = static_cast<uint32_t>(width * height);
  Outcome outcome = {0, FrameHeader(width, height)};
  if (pixels == 0) return outcome;

  if (compression == 0 && offset + stored > static_cast<int64_t>(size)) return {kShortRead, ""};
  // The picture, top row first; what nothing sets is index 0.
  std::string picture(pixels, '\0');
  if (compression == 0) {
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* row = data + offset + (top_down ? y : height - 1 - y) * stride;
      for (int64_t x = 0; x < width; ++x) {
        int64_t bit = x * bits;  // from the row's first, most significant bit
        picture[y * width + x] = static_cast<char>(row[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1));
      }
    }
  } else {
    // Painted from the bottom row up; what lands outside the picture is lost.
    const bool rle8 = compression == 1;
    int64_t x = 0, y = 0;
    auto put = [&](int index) {
      if (x < width && y < height) picture[(height - 1 - y) * width + x] = static_cast<char>(index);
      ++x;
    };
    auto nibble = [](uint8_t byte, int64_t k) { return k % 2 == 0 ? byte >> 4 : byte & 15; };
    bool ended = false;
    for (size_t at = offset; !ended && at + 2 <= size;) {
      const uint8_t first = data[at], second = data[at + 1];
      at += 2;
      if (first > 0) {
        for (int64_t k = 0; k < first; ++k) put(rle8 ? second : nibble(second, k));
      } else if (second == 0) {
        x = 0, ++y;
      } else if (second == 1) {
        ended = true;
      } else if (second == 2) {
        if (at + 2 > size) break;
        x += data[at], y += data[at + 1], at += 2;
      } else {
        size_t bytes = rle8 ? second : (second + 1) / 2;
        if (at + bytes > size) break;
        for (int64_t k = 0; k < second; ++k) put(rle8 ? data[at + k] : nibble(data[at + k / 2], k));
        at += bytes + bytes % 2;
      }
    }
    if (!ended) return {kShortRead, ""};
  }
  outcome.frame += picture;
  return outcome;
}

}  // namespace

[[noreturn]] void StopWithCode(uint32_t code, int) {
  CleanUpForStop();
  throw Stopped{code};
}

[[noreturn]] void EndProgram() { std::abort(); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzDirectory("tessera-fuzz-");
  return 0;
}

// A GIF, TIFF, TGA or PCX file's outcome: a code the program has, or a frame as
// long as its own header says; either way the same checks of what is left.
void ExpectFrameOrStop(uint32_t status) {
  Require(status == 0 || status == kShortRead || status == kUnsupportedBitmap || status == kOutOfMemory,
          "stopped with a code the program doesn't have");
  const std::string frame = Contents("pic.frm");
  if (status != 0) return;
  Require(frame.size() >= 74, "frame without its header");
  const uint8_t* header = reinterpret_cast<const uint8_t*>(frame.data());
  const int64_t width = header[62] << 8 | header[63], height = header[64] << 8 | header[65];
  Require(frame.compare(0, 74, FrameHeader(width, height)) == 0, "frame header differs from its size");
  Require(static_cast<int64_t>(frame.size()) == 74 + width * height, "frame not as long as its header says");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int64_t other_pixels = IsPng(data, size) ? -1 : OtherFormatPixels(data, size);
  if (other_pixels > kLargestDecodedPicture) return -1;  // not worth keeping either
  if (!IsPng(data, size) && other_pixels < 0 && IsLargeRunLengthPicture(data, size)) return -1;
  const Outcome expected = other_pixels >= 0 ? Outcome{0, ""} : Expect(data, size);
  if (expected.status == kNotWorthChecking) return -1;
  Put("vantrel.tmp", data, size);
  Put("pic.frm", kOldFrame.data(), kOldFrame.size());
  uint32_t status = 0;
  try {
    ConvertBitmap("pic.bmp");
  } catch (const Stopped& stop) {
    status = stop.code;
  }

  Require(Contents("vantrel.tmp") == std::string(reinterpret_cast<const char*>(data), size), "input changed");
  if (other_pixels >= 0) {
    ExpectFrameOrStop(status);
    if (status != 0) Require(Contents("pic.frm") == kOldFrame, "earlier frame damaged by a stop");
  } else {
    if (status != expected.status) {
      std::fprintf(stderr, "status %u, the input calls for %u\n", status, expected.status);
    }
    Require(status == expected.status, "stopped with another code than the input calls for");
    Require(Contents("pic.frm") == (status == 0 ? expected.frame : kOldFrame),
            status == 0 ? "frame differs from the input" : "earlier frame damaged by a stop");
  }
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++entries;
  }
  Require(entries == 2, "a file left behind");
  return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

// libFuzzer's own mutation; then, half the time, a PNG's chunks get their
// right CRCs back, those that fit in the input.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (seed % 2 == 0 && IsPng(data, size)) {
    for (int64_t at = 8; static_cast<int64_t>(size) - at >= 12;) {
      const int64_t length = Big32(data + at);
      if (12 + length > static_cast<int64_t>(size) - at) break;
      const uint32_t crc = static_cast<uint32_t>(crc32(0, data + at + 4, static_cast<uInt>(4 + length)));
      for (int i = 0; i < 4; ++i) data[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
      at += 12 + length;
    }
  }
  return size;
}
