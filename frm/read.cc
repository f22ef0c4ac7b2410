// Reading an FRM whole and checking it against the layout in frm.h. The walk
// of each stored direction is bounded by the file's bytes at every step,
// whatever its counts and offsets say: a frame is looked at only once its
// header and its bytes are known to lie inside the file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/problem.h"
#include "convert/readers.h"
#include "frm/frm.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

std::string Number(uint64_t n) { return std::to_string(n); }

std::string FrameWhere(uint32_t d, uint64_t k) { return "direction " + Number(d) + ", frame " + Number(k) + ": "; }

// Walks direction d's frames from its offset, throwing for a frame that
// can't be read; returns where the walk ends, counted from the frame area.
uint64_t WalkDirection(const FrmFile& frm, uint32_t d, std::vector<FrmFile::Irregularity>* irregularities) {
  const uint64_t area = frm.bytes.size() - kFrmHeaderSize;
  uint64_t position = frm.header.direction_offset[d];
  if (position >= area) {
    ThrowProblem("direction " + Number(d) + " starts at " + Number(position) + ", past the end of the file's " +
                 Number(area) + "-byte frame area");
  }
  for (uint64_t k = 0; k < frm.header.frames_per_direction; ++k) {
    if (position + kFrmFrameHeaderSize > area) ThrowProblem(FrameWhere(d, k) + "runs past the end of the file");
    FrmFrameHeader frame;
    LoadFrmFrameHeader(&frm.bytes[kFrmHeaderSize + position], &frame);
    const uint64_t pixels = uint64_t{frame.width} * frame.height;
    const std::string size = Number(frame.width) + " x " + Number(frame.height);
    if (frame.pixel_count < pixels) {
      ThrowProblem(FrameWhere(d, k) + "a pixel count of " + Number(frame.pixel_count) + ", below the " +
                   Number(pixels) + " of its " + size);
    }
    position += kFrmFrameHeaderSize + uint64_t{frame.pixel_count};
    if (position > area) ThrowProblem(FrameWhere(d, k) + "runs past the end of the file");
    if (frame.pixel_count != pixels) {
      irregularities->push_back(
          {FrameWhere(d, k) + "a pixel count of " + Number(frame.pixel_count) + ", where its " + size + " has " +
               Number(pixels),
           "the rebuilt file drops the " + Number(frame.pixel_count - pixels) + " bytes after its pixels"});
    }
  }
  return position;
}

}  // namespace

void ReadFrm(const char* name, FrmFile* frm) {
  ReadWholeFile(name, kBlockLimit, "too large for an FRM: 2 GiB or more", &frm->bytes);
  if (frm->bytes.size() < kFrmHeaderSize) ThrowProblem("shorter than the 62-byte header of an FRM");
  FrmHeader& header = frm->header;
  LoadFrmHeader(frm->bytes.data(), &header);
  if (header.frames_per_direction == 0) ThrowProblem("0 frames per direction: no frames to read");
  std::vector<FrmFile::Irregularity>& irregular = frm->irregularities;
  irregular.clear();
  if (header.version != kFrmVersion)
    irregular.push_back({"version " + Number(header.version) + ", not 4", "the rebuilt file has version 4"});

  // Each direction either shares an earlier one's frames or stores its own,
  // which regularly start where the last stored direction's end.
  frm->stored = 0;
  uint64_t expected = 0, total = 0, end = 0;
  uint32_t last = 0;
  for (uint32_t d = 0; d < kFrmDirections; ++d) {
    frm->owner[d] = d;
    for (uint32_t e = 0; e < d && frm->owner[d] == d; ++e) {
      if (header.direction_offset[e] == header.direction_offset[d]) frm->owner[d] = e;
    }
    if (frm->owner[d] != d) continue;
    ++frm->stored;
    const uint64_t start = header.direction_offset[d];
    if (start != expected) {
      irregular.push_back(
          d == 0 ? FrmFile::Irregularity{"direction 0 starts at " + Number(start) + ", not 0",
                                         "the rebuilt file stores direction 0's frames first"}
                 : FrmFile::Irregularity{"direction " + Number(d) + " starts at " + Number(start) +
                                             ", not right after direction " + Number(last) + "'s frames at " +
                                             Number(expected),
                                         "the rebuilt file stores them right after direction " + Number(last) + "'s"});
    }
    const uint64_t walked = WalkDirection(*frm, d, &irregular);
    total += walked - start;
    end = std::max(end, walked);
    expected = walked;
    last = d;
  }
  if (header.frame_area_size != total) {
    irregular.push_back({"a frame-area size of " + Number(header.frame_area_size) + ", where its frames take " +
                             Number(total) + " bytes",
                         "the rebuilt file gives the bytes its frames take"});
  }
  const uint64_t after = frm->bytes.size() - kFrmHeaderSize - end;
  if (after > 0)
    irregular.push_back({Number(after) + " bytes after the frames", "the rebuilt file ends with the last frame"});
  if (header.action_frame >= header.frames_per_direction) {
    irregular.push_back(
        {"action frame " + Number(header.action_frame) + ", past the last frame, " +
             Number(header.frames_per_direction - 1),
         "make refuses to rebuild it until frames.txt's action-frame is below " + Number(header.frames_per_direction)});
  }
}

FrmFrame FrmFrameAt(const FrmFile& frm, uint32_t position) {
  FrmFrame frame;
  LoadFrmFrameHeader(&frm.bytes[kFrmHeaderSize + position], &frame.header);
  frame.pixels = frm.bytes.data() + kFrmHeaderSize + position + kFrmFrameHeaderSize;
  frame.position = position;
  frame.next = position + kFrmFrameHeaderSize + frame.header.pixel_count;
  return frame;
}

void PlaceFrmFrame(const FrmFrame& frame, uint32_t k, int64_t* x, int64_t* y, int64_t* left, int64_t* top) {
  if (k > 0) *x += frame.header.x_offset, *y += frame.header.y_offset;
  *left = *x - frame.header.width / 2;
  *top = *y - frame.header.height;
}

void ReportFileProblem(const std::string& name, const FileProblem& problem) {
  CleanUpForStop();
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", name.c_str(), FileProblemWords(problem, name).c_str());
}
