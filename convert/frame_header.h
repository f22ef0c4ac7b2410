// The FRM file header: a 62-byte file header and the 12-byte header of its
// single frame, written together as one 74-byte record.
#ifndef TESSERA_CONVERT_FRAME_HEADER_H_
#define TESSERA_CONVERT_FRAME_HEADER_H_

#include <bit>
#include <cstdint>

// The record is stored byte for byte as it lies in memory; its big-endian
// fields are produced by swapping, which needs a little-endian machine.
static_assert(std::endian::native == std::endian::little);

#pragma pack(push, 1)
struct FrameHeader {
  uint32_t version;
  uint16_t frames_per_second;
  uint16_t action_frame;
  uint16_t frames_per_direction;
  uint16_t shift_x[6];
  uint16_t shift_y[6];
  uint32_t direction_offset[6];
  uint32_t frame_area_size;
  uint16_t width;
  uint16_t height;
  uint32_t pixel_count;
  uint16_t offset_x;
  uint16_t offset_y;
};
#pragma pack(pop)
static_assert(sizeof(FrameHeader) == 74);

// Reverses the four bytes of a 32-bit value.
constexpr uint32_t SwapLong(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

// Exchanges the two bytes of the low 16 bits of a value.
constexpr uint16_t SwapWord(uint32_t value) {
  return static_cast<uint16_t>(((value & 0xFF) << 8) | ((value >> 8) & 0xFF));
}

// Version 4, 0 frames per second, action frame 0, one frame per direction;
// everything else zero until FillFrameHeader stores the image's size.
constexpr FrameHeader kFrameHeaderTemplate = {SwapLong(4), 0, 0, SwapWord(1), {}, {}, {}, 0, 0, 0, 0, 0, 0};

// Clears bytes 10 to 73 of the record and stores the frame-area size, frame
// width, frame height and pixel count of a width x height image. Bytes 0 to 9
// keep what they hold (the template).
void FillFrameHeader(FrameHeader* header, uint32_t width, uint32_t height);

#endif  // TESSERA_CONVERT_FRAME_HEADER_H_
