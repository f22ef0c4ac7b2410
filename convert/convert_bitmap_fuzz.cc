// libFuzzer target for the conversion. Each input is left as "vantrel.tmp" in
// a private directory and converted over an earlier frame, as the program
// would. StopWithCode comes back here (as an exception) instead of ending the
// process, after the same clean-up a real stop does. Then what must always
// hold is checked:
// - status 0: "pic.frm" is exactly the 74-byte header the bitmap's size calls
//   for and its rows, taken from the input independently of the program;
// - a stop: a code that a bitmap can cause, and the earlier frame untouched;
// - either way: "vantrel.tmp" unchanged and no other file left behind.
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

int32_t Int32(const uint8_t* bytes) {
  return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// The frame a converted bitmap must give, built from the format's description.
std::string ExpectedFrame(const uint8_t* data, size_t size) {
  int64_t width = Int32(data + 18);
  int64_t stored_height = Int32(data + 22);
  int64_t height = stored_height < 0 ? -stored_height : stored_height;
  int64_t offset = Int32(data + 10);
  int64_t stride = (width + 3) / 4 * 4;
  uint32_t pixels = static_cast<uint32_t>(width * height);
  uint8_t header[74] = {0, 0, 0, 4, 0, 0, 0, 0, 0, 1};
  auto big32 = [&](int at, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  };
  big32(58, pixels + 12);
  header[62] = static_cast<uint8_t>(width >> 8), header[63] = static_cast<uint8_t>(width);
  header[64] = static_cast<uint8_t>(height >> 8), header[65] = static_cast<uint8_t>(height);
  big32(66, pixels);
  std::string frame(reinterpret_cast<char*>(header), sizeof header);
  for (int64_t row = 0; row < height && width > 0; ++row) {
    int64_t stored_row = stored_height < 0 ? row : height - 1 - row;
    int64_t start = offset + stored_row * stride;
    Require(start >= 0 && start + width <= static_cast<int64_t>(size), "converted although pixels are missing");
    frame.append(reinterpret_cast<const char*>(data) + start, static_cast<size_t>(width));
  }
  return frame;
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
  Put("vantrel.tmp", data, size);
  Put("pic.frm", kOldFrame.data(), kOldFrame.size());
  uint32_t status = 0;
  try {
    ConvertBitmap("pic.bmp");
  } catch (const Stopped& stop) {
    status = stop.code;
  }

  Require(Contents("vantrel.tmp") == std::string(reinterpret_cast<const char*>(data), size), "input changed");
  std::string frame = Contents("pic.frm");
  if (status == 0) {
    Require(size >= 54, "converted a bitmap without its headers");
    Require(data[28] == 8 && data[29] == 0, "converted a bitmap that is not 8-bit");
    Require(frame == ExpectedFrame(data, size), "frame differs from the bitmap");
  } else {
    Require(status == kShortRead || status == kUnsupportedBitmap || status == kOutOfMemory || status == EINVAL,
            "stopped with a code no bitmap can cause");
    Require(frame == kOldFrame, "earlier frame damaged by a stop");
    if (size < 54) Require(status == kShortRead, "short headers not reported as a short read");
  }
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++entries;
  }
  Require(entries == 2, "a file left behind");
  return 0;
}
