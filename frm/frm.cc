// The FRM headers' fields to and from their big-endian bytes.
#include "frm/frm.h"

#include <cstdint>

#include "convert/readers.h"

void StoreFrmHeader(const FrmHeader& header, uint8_t bytes[kFrmHeaderSize]) {
  StoreBig32(bytes, header.version);
  StoreBig16(bytes + 4, header.fps);
  StoreBig16(bytes + 6, header.action_frame);
  StoreBig16(bytes + 8, header.frames_per_direction);
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    StoreBig16(bytes + 10 + 2 * d, static_cast<uint16_t>(header.shift_x[d]));
    StoreBig16(bytes + 22 + 2 * d, static_cast<uint16_t>(header.shift_y[d]));
    StoreBig32(bytes + 34 + 4 * d, header.direction_offset[d]);
  }
  StoreBig32(bytes + 58, header.frame_area_size);
}

void LoadFrmHeader(const uint8_t bytes[kFrmHeaderSize], FrmHeader* header) {
  header->version = LoadBig32(bytes);
  header->fps = static_cast<uint16_t>(LoadBig16(bytes + 4));
  header->action_frame = static_cast<uint16_t>(LoadBig16(bytes + 6));
  header->frames_per_direction = static_cast<uint16_t>(LoadBig16(bytes + 8));
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    header->shift_x[d] = static_cast<int16_t>(LoadBig16(bytes + 10 + 2 * d));
    header->shift_y[d] = static_cast<int16_t>(LoadBig16(bytes + 22 + 2 * d));
    header->direction_offset[d] = LoadBig32(bytes + 34 + 4 * d);
  }
  header->frame_area_size = LoadBig32(bytes + 58);
}

void StoreFrmFrameHeader(const FrmFrameHeader& frame, uint8_t bytes[kFrmFrameHeaderSize]) {
  StoreBig16(bytes, frame.width);
  StoreBig16(bytes + 2, frame.height);
  StoreBig32(bytes + 4, frame.pixel_count);
  StoreBig16(bytes + 8, static_cast<uint16_t>(frame.x_offset));
  StoreBig16(bytes + 10, static_cast<uint16_t>(frame.y_offset));
}

void LoadFrmFrameHeader(const uint8_t bytes[kFrmFrameHeaderSize], FrmFrameHeader* frame) {
  frame->width = static_cast<uint16_t>(LoadBig16(bytes));
  frame->height = static_cast<uint16_t>(LoadBig16(bytes + 2));
  frame->pixel_count = LoadBig32(bytes + 4);
  frame->x_offset = static_cast<int16_t>(LoadBig16(bytes + 8));
  frame->y_offset = static_cast<int16_t>(LoadBig16(bytes + 10));
}
