// The checks of an existing OUT: see output_check.h. A file is told by its
// first bytes, as the readers tell it: a PNG by its IHDR's depth and colour
// type, a bitmap by its bits a pixel (of the core header or the information
// header), the other formats by their signatures or headers alone.
#include "common/output_check.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "common/preview_marker.h"
#include "common/problem.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

// What an existing file is, in words for a message.
struct Found {
  bool exists;
  bool remap_writes;  // an 8-bit indexed bitmap or PNG, or a GIF
  std::string what;
};

// "a 4-bit", "an 8-bit".
std::string Bits(uint32_t bits) { return (bits == 8 || bits == 18 ? "an " : "a ") + std::to_string(bits) + "-bit"; }

// A PNG by its IHDR: depth at byte 24, colour type at byte 25.
std::string PngKind(const uint8_t* head, uint32_t got) {
  if (got < 26) return "a PNG";
  const uint32_t depth = head[24], colour = head[25];
  if (colour == 3) return Bits(depth) + " indexed PNG";
  return colour == 0 || colour == 4 ? "a greyscale PNG" : "a full-colour PNG";
}

Found Look(const char* name) {
  FileHandle file;
  if (uint32_t error = FileOpenForReading(name, &file)) {
    if (error == kNotRegularFile) throw FileProblem{"", error};
    return {false, false, ""};  // absent or a folder: the write says so in its place
  }
  uint8_t head[kHeadSize];
  uint32_t got;
  if (uint32_t error = FileRead(file, head, sizeof head, &got)) StopWithCode(error);
  if (uint32_t error = FileClose(file)) StopWithCode(error);
  if (got == 0) return {true, false, "an empty file"};
  const Reader reader = PickReader(head, got < kStartSize ? got : kStartSize);
  if (reader == ReadPng) {
    return {true, got >= 26 && head[24] == 8 && head[25] == 3, PngKind(head, got)};
  }
  if (reader == ReadGif) return {true, true, "a GIF"};
  if (reader == ReadBitmap && got >= 30 && head[0] == 'B' && head[1] == 'M') {
    const uint32_t bits = LoadLittle16(head + (LoadLittle16(head + 14) == 12 ? 24 : 28));
    return {true, bits == 8, Bits(bits) + " bitmap"};
  }
  if (reader == ReadTiff) return {true, false, "a TIFF"};
  if (reader == ReadPsd) return {true, false, "a Photoshop document"};
  if (reader == ReadIff) return {true, false, "an IFF picture"};
  if (reader == ReadPcx) return {true, false, "a PCX picture"};
  if (reader == ReadTga) return {true, false, "a TGA picture"};
  return {true, false, "a file that is no picture"};
}

[[noreturn]] void Refuse(const Found& found, const char* instead) {
  ThrowProblem(found.what + ", " + instead + "; give OUT another name, or remove it first");
}

}  // namespace

void CheckRemapOutput(const char* out, const char* input) {
  if (FileSameAs(out, input)) return;
  const Found found = Look(out);
  if (found.exists && !found.remap_writes) Refuse(found, "which remap does not write");
}

void CheckPreviewOutput(const char* out) {
  const Found found = Look(out);
  if (found.exists && !FileHasPreviewMarker(out)) Refuse(found, "not a preview");
}

bool HasExtension(const std::string& name, const char* extension) {
  const size_t size = std::strlen(extension);
  std::string tail = name.size() >= size ? name.substr(name.size() - size) : "";
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == extension;
}
