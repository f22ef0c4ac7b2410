// tessera-frm: FRM files of many frames in one or six directions. The layout,
// every number big-endian:
//
//   file header   version:4 fps:2 action-frame:2 frames-per-direction:2
//                 shift-x:2 x 6 shift-y:2 x 6 (signed)
//                 direction-offset:4 x 6 frame-area-size:4          62 bytes
//   frame area    for each stored direction, its frames one after another:
//   frame         width:2 height:2 pixel-count:4 x-offset:2 y-offset:2
//                 (offsets signed), then width x height indices, rows top
//                 to bottom
//
// Direction d's offset is where its first frame starts, counted from the
// frame area's first byte; a direction at an earlier direction's offset
// shares its frames. A file of one direction has all six offsets 0. The
// frame-area size is the bytes of every stored frame, headers included.
//
// Drawing: a frame drawn at point (x, y) has its top-left corner at
// (x - width div 2, y - height). A direction's shift moves all its frames;
// frame k (k > 0) of a direction is drawn at the object's point plus the
// shift plus the offsets of frames 1 to k. Frame 0's own offset is never
// applied. The game draws index 0 as transparent.
#ifndef TESSERA_FRM_FRM_H_
#define TESSERA_FRM_FRM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/problem.h"

constexpr uint32_t kFrmHeaderSize = 62;
constexpr uint32_t kFrmFrameHeaderSize = 12;
constexpr uint32_t kFrmDirections = 6;
constexpr uint32_t kFrmVersion = 4;

// The file header's fields.
struct FrmHeader {
  uint32_t version;
  uint16_t fps;
  uint16_t action_frame;
  uint16_t frames_per_direction;
  int16_t shift_x[kFrmDirections];
  int16_t shift_y[kFrmDirections];
  uint32_t direction_offset[kFrmDirections];
  uint32_t frame_area_size;
};

// A frame header's fields.
struct FrmFrameHeader {
  uint16_t width;
  uint16_t height;
  uint32_t pixel_count;
  int16_t x_offset;
  int16_t y_offset;
};

void StoreFrmHeader(const FrmHeader& header, uint8_t bytes[kFrmHeaderSize]);
void LoadFrmHeader(const uint8_t bytes[kFrmHeaderSize], FrmHeader* header);
void StoreFrmFrameHeader(const FrmFrameHeader& frame, uint8_t bytes[kFrmFrameHeaderSize]);
void LoadFrmFrameHeader(const uint8_t bytes[kFrmFrameHeaderSize], FrmFrameHeader* frame);

// An FRM read whole and checked by ReadFrm. Direction d's frames are found
// by walking frames-per-direction frames from its offset: a frame's pixel
// count says how many bytes follow its header, the first width x height of
// them its pixels. `owner[d]` is the first direction at d's offset, whose
// frames d shows (d itself when it stores its own); `stored` counts the
// directions that do.
struct FrmFile {
  std::vector<uint8_t> bytes;  // the whole file
  FrmHeader header;
  uint32_t owner[kFrmDirections];
  uint32_t stored;
  // Each way the file is not as make writes it: what it holds, and what a
  // file rebuilt from its frames has instead (or that make refuses it).
  struct Irregularity {
    std::string found;
    std::string rebuilt;
  };
  std::vector<Irregularity> irregularities;
};

// One frame, as a walk finds it: `position` is where its header starts,
// counted from the frame area's first byte, `next` where the next one does.
struct FrmFrame {
  FrmFrameHeader header;
  const uint8_t* pixels;
  uint32_t position;
  uint32_t next;
};

// Reads the FRM `name` whole and checks it: a file that can't be read as an
// FRM (shorter than its header, no frames, a frame past the end of the file
// or with fewer bytes than its pixels) throws a FileProblem that names the
// direction and the frame; every irregularity is recorded in the FrmFile.
void ReadFrm(const char* name, FrmFile* frm);

// The frame whose header starts at `position` in a file ReadFrm accepted:
// the first of direction d at header.direction_offset[d], each next one at
// the previous one's `next`.
FrmFrame FrmFrameAt(const FrmFile& frm, uint32_t position);

// Where frame k of a direction is drawn when the direction's point
// (the object's point plus the direction's shift) is (x, y): frame 0 there,
// each later frame moved on by its own offset. Give `x` and `y` the point
// and each frame in turn, from frame 0; they become the frame's own point,
// and `left` and `top` its top-left corner.
void PlaceFrmFrame(const FrmFrame& frame, uint32_t k, int64_t* x, int64_t* y, int64_t* left, int64_t* top);

// "NAME: what went wrong" on standard error, after the clean-up of whatever
// the failed step left open or held and with standard output flushed first,
// so the two read in order.
void ReportFileProblem(const std::string& name, const FileProblem& problem);

// The commands, each given its operands and options as typed (the command's
// name removed). Each returns the exit status: 0 success, 1 an irregular
// file (info, explode), 2 an error, having said why on standard error.
int RunMake(const std::vector<std::string>& arguments);
int RunInfo(const std::vector<std::string>& arguments);
int RunExplode(const std::vector<std::string>& arguments);
int RunPreview(const std::vector<std::string>& arguments);

// Whether `c` separates a folder from a name: '/', and on Windows, whose
// names ignore case, '\\' as well; `folder` with one at its end for a name
// to follow (an empty folder stays empty).
bool IsSeparator(char c);
std::string WithSeparator(const std::string& folder);

// A usage error: "tessera-frm: WHAT" and where help is, on standard error;
// returns 2.
int UsageError(const std::string& what);

#endif  // TESSERA_FRM_FRM_H_
