// FRM image format, as tessera writes it: one direction, one frame.
//
// All integers are big-endian. Offsets are from the start of the file.
//
//   offset size  field                                  value written
//        0    4  format version                         4
//        4    2  frames per second                      0
//        6    2  action frame                           0
//        8    2  frames per direction                   1
//       10   12  horizontal shift, 6 directions x 2     0
//       22   12  vertical shift, 6 directions x 2       0
//       34   24  first frame offset, 6 directions x 4   0
//       58    4  frame area size (frame header+pixels)  width * height + 12
//       62    2  frame width                            low 16 bits of width
//       64    2  frame height                           low 16 bits of height
//       66    4  frame pixel count                      width * height
//       70    2  frame horizontal offset                0
//       72    2  frame vertical offset                  0
//       74       pixels: width * height palette indices, rows top to bottom,
//                no row padding; nothing follows them
//
// Bytes 0 to 61 are the file header, 62 to 73 the frame header (the 12 in the
// frame area size). The products are 32-bit two's-complement patterns.
#include "convert/frame_header.h"

#include <cstring>

void FillFrameHeader(FrameHeader* header, uint32_t width, uint32_t height) {
  constexpr size_t kTemplateBytes = 10;
  std::memset(reinterpret_cast<char*>(header) + kTemplateBytes, 0, sizeof *header - kTemplateBytes);
  uint32_t pixels = width * height;  // unsigned: wraps like the 32-bit pattern
  header->frame_area_size = SwapLong(pixels + 12);
  header->width = SwapWord(width);
  header->height = SwapWord(height);
  header->pixel_count = SwapLong(pixels);
}
