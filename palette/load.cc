// Reads a palette file, telling its format by its content in this order: the
// text and RIFF signatures, the picture signatures (PNG, GIF, "BM", and those
// of the other formats tessera reads), a length of 768 or 772 bytes (a raw or
// Adobe table, never a picture), a length of 33,536 bytes, or of 230,148 with
// "NEWC" after the first 33,536 (a table with lookup tables), then the PCX and
// TGA headers. A picture, read as tessera reads it, gives its own palette in
// stored order. Pictures to check or remap are read here too. An empty file is
// said to be one in either place.
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

// The forms of palette file, as LoadPalette tells them apart.
enum Form { kText, kRiff, kSignedPicture, kTable, kHeadedPicture, kNoForm };

// Whether a file of `size` bytes is the 768 bytes of a palette and its lookup
// tables: told by the size, and by "NEWC" after the first table.
bool HasLookupTables(FileHandle input, uint64_t size) {
  if (size == kLookupTableSize) return true;
  if (size != kNewcTablesSize) return false;
  char mark[4];
  uint32_t got;
  if (uint32_t error = FileSeek(input, kLookupTableSize)) StopWithCode(error);
  if (uint32_t error = FileRead(input, mark, sizeof mark, &got)) StopWithCode(error);
  return got == sizeof mark && std::memcmp(mark, "NEWC", 4) == 0;
}

// The form of the open file `input` of `size` bytes, whose first `got` bytes
// are `start`.
Form TellForm(FileHandle input, uint64_t size, const uint8_t* start, uint32_t got) {
  if (IsTextPalette(start, got)) return kText;
  if (IsRiffPalette(start, got)) return kRiff;
  // A picture with a signature; PCX and TGA headers are only plausible, and
  // tessera would take any other file as a bitmap, but a palette file of no
  // known kind is no bitmap.
  const Reader reader = PickReader(start, got);
  const bool headed = reader == ReadPcx || reader == ReadTga;
  if ((reader != ReadBitmap && !headed) || StartsWith(start, got, "BM")) return kSignedPicture;
  if (size == 768 || size == 772 || HasLookupTables(input, size)) return kTable;
  return headed ? kHeadedPicture : kNoForm;
}

// Opens a palette file and tells its form by its first bytes and its size.
Form OpenAndTell(const char* name, FileHandle* input, uint64_t* size) {
  *input = OpenToRead(name, size);
  uint8_t start[kStartSize];
  uint32_t got;
  if (uint32_t error = FileRead(*input, start, sizeof start, &got)) StopWithCode(error);
  return TellForm(*input, *size, start, got);
}

}  // namespace

bool IsPaletteFile(const char* name) {
  try {
    FileHandle input;
    uint64_t size;
    const Form form = OpenAndTell(name, &input, &size);
    if (uint32_t error = FileClose(input)) StopWithCode(error);
    return form == kText || form == kRiff || form == kTable;
  } catch (const FileProblem&) {
    CleanUpForStop();
    return false;
  }
}

Picture ReadPictureFile(const char* name, Palette* own) {
  uint64_t size;
  const FileHandle input = OpenToRead(name, &size);
  const Picture picture = ReadPicture(input, own, PickColourReader);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
  return picture;
}

uint32_t WalkGif(const char* name, GifImageTaker take, void* context) {
  uint64_t size;
  const FileHandle input = OpenToRead(name, &size);
  uint8_t start[6];
  uint32_t got;
  if (uint32_t error = FileRead(input, start, sizeof start, &got)) StopWithCode(error);
  if (!StartsWith(start, got, "GIF87a") && !StartsWith(start, got, "GIF89a")) {
    if (uint32_t error = FileClose(input)) StopWithCode(error);
    return 0;
  }
  GifWalk walk = {0};
  try {
    ReadGifImages(input, take, context, &walk);
  } catch (const FileProblem& problem) {
    if (walk.image < 2) throw;  // in the first image, as a picture's problem is told
    throw FileProblem{"image " + std::to_string(walk.image) + ": " + FileProblemWords(problem, name)};
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
  return walk.image;
}

uint32_t CountGifImages(const char* name) {
  return WalkGif(
      name, [](const GifScreen&, const GifImage&, void*) {}, nullptr);
}

void LoadPalette(const char* name, uint32_t depth, Palette* palette) {
  FileHandle input;
  uint64_t size;
  const Form form = OpenAndTell(name, &input, &size);
  const bool text = form == kText, riff = form == kRiff, table = form == kTable;
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
    if (form == kNoForm) ThrowProblem("not a palette file or a picture tessera reads");
    if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
    const Picture picture = ReadPicture(input, palette, nullptr);
    ReleaseBlock(picture.block);
    if (palette->count <= palette->first) ThrowProblem("a picture without a palette of its own");
  }
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}

StartShown ShowsStartValue(const GifScreen& screen, const GifImage& image) {
  const uint64_t size = uint64_t{image.width} * image.height;
  if (image.number == 1 && (image.left > 0 || image.top > 0 || uint64_t{image.left} + image.width < screen.width ||
                            uint64_t{image.top} + image.height < screen.height || size == 0)) {
    return kStartUncovered;
  }
  return image.disposal == 2 && image.transparent < 0 && size > 0 ? kStartDisposedTo : kStartHidden;
}
