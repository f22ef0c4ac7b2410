// Reads a palette file, telling its format by its content in this order: the
// text and RIFF signatures, the picture signatures (PNG, GIF, "BM"), a length
// of 768 or 772 bytes (a raw or Adobe table, never a picture), then the PCX
// and TGA headers. A picture gives its own palette in stored order.
#include <cstdint>
#include <cstring>
#include <string>

#include "frontend/stop.h"
#include "palette/palette.h"
#include "platform/platform.h"

namespace {

// Text and RIFF palettes are read whole; none is anywhere near this long.
constexpr uint64_t kLargestPaletteFile = 1 << 20;

bool StartsWith(const uint8_t* start, uint32_t got, const char* signature) {
  const size_t size = std::strlen(signature);
  return got >= size && std::memcmp(start, signature, size) == 0;
}

std::string ReadWhole(FileHandle input, uint64_t size) {
  if (size > kLargestPaletteFile) ThrowProblem("too large for a palette file");
  std::string bytes(size, '\0');
  uint32_t done;
  if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
  if (uint32_t error = FileRead(input, bytes.data(), static_cast<uint32_t>(size), &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);
  return bytes;
}

}  // namespace

void LoadPalette(const char* name, uint32_t depth, Palette* palette) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(name, &input)) StopWithCode(error);
  uint64_t size;
  if (uint32_t error = FileSize(input, &size)) StopWithCode(error);
  uint8_t start[kStartSize];
  uint32_t got;
  if (uint32_t error = FileRead(input, start, sizeof start, &got)) StopWithCode(error);

  const bool text = StartsWith(start, got, "JASC-PAL") || StartsWith(start, got, "GIMP Palette");
  const bool riff = StartsWith(start, got, "RIFF") && got >= 12 && std::memcmp(start + 8, "PAL ", 4) == 0;
  const bool signed_picture =
      StartsWith(start, got, "\x89PNG\r\n\x1A\n") || StartsWith(start, got, "GIF87a") ||
      StartsWith(start, got, "GIF89a") || StartsWith(start, got, "BM") ||
      (got >= 4 && (std::memcmp(start, "II*\0", 4) == 0 || std::memcmp(start, "MM\0*", 4) == 0));
  const bool table = !text && !riff && !signed_picture && (size == 768 || size == 772);
  if (depth != 0 && !(table && size == 768)) ThrowProblem("--depth applies to a raw table of 768 bytes only");
  if (text || riff || table) {
    const std::string bytes = ReadWhole(input, size);
    if (text) {
      ParseTextPalette(bytes, palette);
    } else if (riff) {
      ParseRiffPalette(bytes, palette);
    } else {
      ParseColourTable(bytes, depth, palette);
    }
  } else {
    const Reader reader = PickReader(start, got);
    if (!signed_picture && reader != ReadPcx && reader != ReadTga) {
      ThrowProblem("not a palette file or a picture tessera reads");
    }
    const Picture picture = reader(input, start, got, palette);
    ReleaseBlock(picture.block);
    if (palette->count <= palette->first) ThrowProblem("a picture without a palette of its own");
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}
