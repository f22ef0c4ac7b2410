// Converts the picture that the calling script leaves as "vantrel.tmp": an
// indexed PNG (png.cc) when the file starts with PNG's signature, otherwise a
// Windows bitmap (bitmap.cc).
//
// The frame is written into a temporary file beside the output and moved onto
// the output's name only when complete, so a stop never leaves a damaged
// frame behind and never destroys an earlier good one.
#include "convert/convert_bitmap.h"

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

}  // namespace

void ConvertBitmap(std::string_view argument) {
  std::string name = MakeFrameName(argument);
  FileHandle input, output;
  if (uint32_t error = FileOpenExisting("vantrel.tmp", &input)) StopWithCode(error);
  if (uint32_t error = FileCheckReplaceable(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(name.c_str(), &output)) StopWithCode(error);

  // A bitmap's file header, or a PNG's signature and the start of its first chunk.
  uint8_t start[14];
  uint32_t done;
  if (uint32_t error = FileRead(input, start, sizeof start, &done)) StopWithCode(error);
  if (done >= sizeof kPngSignature && std::memcmp(start, kPngSignature, sizeof kPngSignature) == 0) {
    ReadPng(input, output);
  } else {
    ReadBitmap(input, output, start, done);
  }

  if (uint32_t error = FileClose(output)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(name.c_str())) StopWithCode(error);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}

void WriteFrameHeader(FileHandle output, uint32_t width, uint32_t height) {
  FrameHeader header = kFrameHeaderTemplate;
  FillFrameHeader(&header, width, height);
  uint32_t done;
  if (uint32_t error = FileWrite(output, &header, sizeof header, &done)) StopWithCode(error);
  if (done != sizeof header) StopWithCode(kShortWrite);
}

void WriteRows(FileHandle output, const uint8_t* block, uint32_t width, uint32_t height, uint32_t stride,
               bool top_down) {
  uint32_t done;
  for (uint32_t row = 0; row < height; ++row) {
    uint32_t stored_row = top_down ? row : height - 1 - row;
    if (uint32_t error = FileWrite(output, block + uint64_t{stored_row} * stride, width, &done)) StopWithCode(error);
    if (done != width) StopWithCode(kShortWrite);
  }
}
