// Reads a palette file, telling its format by its content in this order: the
// text and RIFF signatures, the picture signatures (PNG, GIF, "BM", and those
// of the other formats tessera reads), a length of 768 or 772 bytes (a raw or
// Adobe table, never a picture), then the PCX and TGA headers. A picture,
// read as tessera reads it, gives its own palette in stored order. Pictures to
// check or remap are read here too.
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

bool IsTextPalette(const uint8_t* start, uint32_t got) {
  return StartsWith(start, got, "JASC-PAL") || StartsWith(start, got, "GIMP Palette");
}

bool IsRiffPalette(const uint8_t* start, uint32_t got) {
  return StartsWith(start, got, "RIFF") && got >= 12 && std::memcmp(start + 8, "PAL ", 4) == 0;
}

}  // namespace

bool StartsAsPaletteFile(const uint8_t* start, uint32_t got) {
  return IsTextPalette(start, got) || IsRiffPalette(start, got);
}

Picture ReadPictureFile(const char* name, Palette* own) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(name, &input)) StopWithCode(error);
  const Picture picture = ReadPicture(input, own, PickColourReader);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
  return picture;
}

void LoadPalette(const char* name, uint32_t depth, Palette* palette) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(name, &input)) StopWithCode(error);
  uint64_t size;
  if (uint32_t error = FileSize(input, &size)) StopWithCode(error);
  uint8_t start[kStartSize];
  uint32_t got;
  if (uint32_t error = FileRead(input, start, sizeof start, &got)) StopWithCode(error);

  const bool text = IsTextPalette(start, got), riff = IsRiffPalette(start, got);
  // A picture with a signature; PCX and TGA headers are only plausible, and
  // tessera would take any other file as a bitmap, but a palette file of no
  // known kind is no bitmap.
  const Reader reader = PickReader(start, got);
  const bool headed = reader == ReadPcx || reader == ReadTga;
  const bool signed_picture = (reader != ReadBitmap && !headed) || StartsWith(start, got, "BM");
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
    if (!signed_picture && !headed) ThrowProblem("not a palette file or a picture tessera reads");
    if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
    const Picture picture = ReadPicture(input, palette, nullptr);
    ReleaseBlock(picture.block);
    if (palette->count <= palette->first) ThrowProblem("a picture without a palette of its own");
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}
