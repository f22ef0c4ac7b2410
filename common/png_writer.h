// Indexed PNGs, as tessera-palette's previews and remaps and tessera-frm's
// frames are written: signature, IHDR (8-bit indices, colour type 3), PLTE
// with as many entries as the palette has, or as the largest index needs
// (black where the palette has none), then when asked a tRNS that makes
// index 0 transparent and a tEXt "Comment", one IDAT of the zlib stream of
// the rows, each with filter byte 0, and IEND. The file is written beside its
// name and moved onto it once complete.
#ifndef TESSERA_COMMON_PNG_WRITER_H_
#define TESSERA_COMMON_PNG_WRITER_H_

#include <cstdint>

#include "convert/readers.h"

// Rows compressed for a PNG's image data, and the largest index they hold.
// `packed` is a block of its own, which WriteIndexedPng releases.
struct PackedFrame {
  uint32_t width;
  uint32_t height;
  uint32_t largest;
  uint8_t* packed;
  uint32_t packed_size;
};

// Compresses `raw`, rows each after its filter byte, into a PackedFrame at
// zlib's `level`.
PackedFrame PackRows(const uint8_t* raw, uint64_t raw_size, uint32_t width, uint32_t height, uint32_t largest,
                     int level);

// What a PNG may carry beyond its pixels and palette: a tRNS chunk that
// makes index 0 transparent (as the game draws it), and a tEXt chunk
// "Comment" holding `comment` (the previews' marker).
struct PngExtras {
  bool clear_zero;
  const char* comment;
};

// Writes the frame as an indexed PNG whose palette is `palette`.
void WriteIndexedPng(const char* png_name, const PackedFrame& frame, const Palette& palette,
                     const PngExtras& extras = {false, nullptr});

// The marker the previews of both tools carry (PNG tEXt "Comment", GIF
// comment extension), by which a later preview knows a file it may replace.
constexpr char kPreviewMarker[] = "tessera preview";

#endif  // TESSERA_COMMON_PNG_WRITER_H_
