// libFuzzer target for the conversion. Each input is left as "vantrel.tmp" in
// a private directory and converted over an earlier frame, as the program
// would. StopWithCode comes back here (as an exception) instead of ending the
// process, after the same clean-up a real stop does. Then the outcome is
// checked against one worked out independently of the program, from the
// format's description alone (Expect):
// - status 0: "pic.frm" is exactly the 74-byte header the bitmap's size calls
//   for and its pixels, uncompressed or decoded;
// - a stop: exactly the code the bitmap calls for, and the earlier frame
//   untouched;
// - either way: "vantrel.tmp" unchanged and no other file left behind.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convert/convert_bitmap.h"
#include "frontend/stop.h"
#include "platform/platform.h"

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

// What converting the bitmap must give, in 64-bit arithmetic throughout.
Outcome Expect(const uint8_t* data, size_t size) {
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
                     (compression == 1 && bits == 8 && !top_down) || (compression == 2 && bits == 4 && !top_down);
  if (!known || width < 0 || width > 65535 || height > 65535) return {kUnsupportedBitmap, ""};
  const int64_t offset = Int32(data + 10);
  if (offset < 0) return {EINVAL, ""};

  const int64_t stride = (width * bits + 31) / 32 * 4;
  const int64_t stored = compression == 0 ? stride * height : std::max<int64_t>(0, static_cast<int64_t>(size) - offset);
  if (std::max(stored, width * height) >= (int64_t{1} << 31) - 7) return {kOutOfMemory, ""};

  uint8_t header[74] = {0, 0, 0, 4, 0, 0, 0, 0, 0, 1};
  auto big32 = [&](int at, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  };
  const uint32_t pixels = static_cast<uint32_t>(width * height);
  big32(58, pixels + 12);
  header[62] = static_cast<uint8_t>(width >> 8), header[63] = static_cast<uint8_t>(width);
  header[64] = static_cast<uint8_t>(height >> 8), header[65] = static_cast<uint8_t>(height);
  big32(66, pixels);
  Outcome outcome = {0, std::string(reinterpret_cast<char*>(header), sizeof header)};
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
        for (int64_t k = 0; k < first; ++k) put(bits == 8 ? second : nibble(second, k));
      } else if (second == 0) {
        x = 0, ++y;
      } else if (second == 1) {
        ended = true;
      } else if (second == 2) {
        if (at + 2 > size) break;
        x += data[at], y += data[at + 1], at += 2;
      } else {
        size_t bytes = bits == 8 ? second : (second + 1) / 2;
        if (at + bytes > size) break;
        for (int64_t k = 0; k < second; ++k) put(bits == 8 ? data[at + k] : nibble(data[at + k / 2], k));
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
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("tessera-fuzz-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directory(directory);
  std::filesystem::current_path(directory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (IsLargeRunLengthPicture(data, size)) return -1;  // not worth keeping either
  Put("vantrel.tmp", data, size);
  Put("pic.frm", kOldFrame.data(), kOldFrame.size());
  uint32_t status = 0;
  try {
    ConvertBitmap("pic.bmp");
  } catch (const Stopped& stop) {
    status = stop.code;
  }

  Require(Contents("vantrel.tmp") == std::string(reinterpret_cast<const char*>(data), size), "input changed");
  Outcome expected = Expect(data, size);
  Require(status == expected.status, "stopped with another code than the bitmap calls for");
  Require(Contents("pic.frm") == (status == 0 ? expected.frame : kOldFrame),
          status == 0 ? "frame differs from the bitmap" : "earlier frame damaged by a stop");
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++entries;
  }
  Require(entries == 2, "a file left behind");
  return 0;
}
