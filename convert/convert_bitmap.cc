// Converts the picture that the calling script leaves as "vantrel.tmp". Its
// first bytes pick the reader: PNG's signature a PNG (png.cc), "GIF87a" or
// "GIF89a" a GIF (gif.cc), "BM" a Windows bitmap (bitmap.cc), "II*\0" or
// "MM\0*" a TIFF (tiff.cc, which also takes BigTIFF's "II+\0" and "MM\0+"
// to refuse them), "8BPS" a Photoshop document (psd.cc), "FORM" an IFF
// picture (iff.cc); of the rest a PCX header (pcx.cc), then a plausible TGA
// header (tga.cc); anything else is read as a bitmap. tessera-palette reads
// every picture through the same ReadPicture, and full colours too where it
// asks (PickColourReader).
//
// The frame is written into a temporary file beside the output and moved onto
// the output's name only when complete, so a stop never leaves a damaged
// frame behind and never destroys an earlier good one.
#include "convert/convert_bitmap.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "convert/frame_header.h"
#include "convert/frame_name.h"
#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool StartsWith(const uint8_t* start, uint32_t got, const void* signature, uint32_t size) {
  return got >= size && std::memcmp(start, signature, size) == 0;
}

// Byte 0 0x0A, then a version, an encoding and a depth PCX has.
bool IsPcx(const uint8_t* start, uint32_t got) {
  return got >= 4 && start[0] == 0x0A && (start[1] == 0 || (start[1] >= 2 && start[1] <= 5)) && start[2] <= 1 &&
         (start[3] == 1 || start[3] == 2 || start[3] == 4 || start[3] == 8);
}

// TGA has no signature: a colour map type, an image type, a pixel depth and,
// with a colour map, an entry size that TGA has.
bool IsTga(const uint8_t* start, uint32_t got) {
  if (got < 17 || start[1] > 1) return false;
  const uint8_t type = start[2], depth = start[16], entry = start[7];
  return (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
         (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) &&
         (start[1] == 0 || entry == 15 || entry == 16 || entry == 24 || entry == 32);
}

void WriteFrame(FileHandle output, const Picture& picture) {
  FrameHeader header = kFrameHeaderTemplate;
  FillFrameHeader(&header, picture.width, picture.height);
  uint32_t done;
  if (uint32_t error = FileWrite(output, &header, sizeof header, &done)) StopWithCode(error);
  if (done != sizeof header) StopWithCode(kShortWrite);
  for (uint32_t row = 0; row < picture.height; ++row) {
    uint32_t stored_row = picture.top_down ? row : picture.height - 1 - row;
    const uint8_t* pixels = picture.rows + uint64_t{stored_row} * picture.stride;
    if (uint32_t error = FileWrite(output, pixels, picture.width, &done)) StopWithCode(error);
    if (done != picture.width) StopWithCode(kShortWrite);
  }
}

}  // namespace

Reader PickReader(const uint8_t* start, uint32_t got) {
  if (StartsWith(start, got, kPngSignature, sizeof kPngSignature)) return ReadPng;
  if (StartsWith(start, got, "GIF87a", 6) || StartsWith(start, got, "GIF89a", 6)) return ReadGif;
  if (StartsWith(start, got, "BM", 2)) return ReadBitmap;
  if (StartsWith(start, got, "II*\0", 4) || StartsWith(start, got, "MM\0*", 4) || StartsWith(start, got, "II+\0", 4) ||
      StartsWith(start, got, "MM\0+", 4)) {
    return ReadTiff;
  }
  if (StartsWith(start, got, "8BPS", 4)) return ReadPsd;
  if (StartsWith(start, got, "FORM", 4)) return ReadIff;
  if (IsPcx(start, got)) return ReadPcx;
  if (IsTga(start, got)) return ReadTga;
  return ReadBitmap;
}

// Full colours are read only from a file that says what it is: tessera takes a
// file of no other signature as a bitmap, but a colour bitmap must start "BM".
Reader PickColourReader(Reader indexed, const uint8_t* head, uint32_t got) {
  if (indexed == ReadPng) return got >= 26 && head[25] != 3 ? ReadPngColours : nullptr;
  if (indexed == ReadTga) return head[2] != 1 && head[2] != 9 ? ReadTgaColours : nullptr;
  if (indexed == ReadPcx) return got >= 66 && head[65] >= 3 && head[3] == 8 ? ReadPcxColours : nullptr;
  if (indexed == ReadBitmap && StartsWith(head, got, "BM", 2) && got >= 30) {
    const bool core = LoadLittle16(head + 14) == 12;
    return LoadLittle16(head + (core ? 24 : 28)) > 8 ? ReadBitmapColours : nullptr;
  }
  return nullptr;
}

Picture ReadPicture(FileHandle input, Palette* palette, ColourPicker pick_colours) {
  // tessera reads the start alone; tessera-palette looks further on to tell a
  // full-colour picture, then comes back to where tessera would be.
  uint8_t head[kHeadSize];
  uint32_t got;
  if (uint32_t error = FileRead(input, head, pick_colours != nullptr ? kHeadSize : kStartSize, &got)) {
    StopWithCode(error);
  }
  const uint32_t start_size = std::min(got, kStartSize);
  Reader reader = PickReader(head, start_size);
  if (pick_colours != nullptr) {
    if (Reader colours = pick_colours(reader, head, got)) reader = colours;
    if (uint32_t error = FileSeek(input, static_cast<int32_t>(start_size))) StopWithCode(error);
  }
  return reader(input, head, start_size, palette);
}

void ConvertBitmap(std::string_view argument) {
  std::string name = MakeFrameName(argument);
  FileHandle input, output;
  if (uint32_t error = FileOpenExisting("vantrel.tmp", &input)) StopWithCode(error);
  if (uint32_t error = FileCheckReplaceable(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(name.c_str(), &output)) StopWithCode(error);

  Picture picture = ReadPicture(input, nullptr, nullptr);
  WriteFrame(output, picture);
  ReleaseBlock(picture.block);

  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}
