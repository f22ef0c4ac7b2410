// libFuzzer target for tessera-frm. Each input is parsed as a frames.txt and
// written as "x.frm" in a private directory, which the commands then read
// through their own entry points, as the program would run them: info,
// explode into "out", preview as a GIF (of a direction the input's size
// picks) and as a PNG sheet, and make of the exploded folder. The outcome is
// checked against one worked out from the input's bytes alone (Expect), by a
// walk of its own of the layout in frm.h:
// - info's status and explode's are the walk's: 0 regular, 1 irregular,
//   2 unreadable;
// - an explode that succeeds leaves frames.txt and exactly the pictures it
//   lists, one for each stored frame with pixels; one that fails leaves no
//   frames.txt;
// - preview writes a readable file unless its screen or sheet is too large,
//   which the walk knows too;
// - make of a regular file's folder gives the input back byte for byte; of
//   an irregular one, a regular file, or a refusal of an action frame past
//   the last;
// - a frames.txt that breaks its grammar is a FileProblem naming its line,
//   and one that parses has one or six directions of as many frames;
// - every time: the input unchanged, nothing left behind but the outputs.
// Standard output, which the commands print on, goes to /dev/null; run with
// -close_fd_mask=2 to silence their standard error too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/problem.h"
#include "convert/fuzz_directory.h"
#include "convert/readers.h"
#include "frm/frame_list.h"
#include "frm/frm.h"
#include "platform/platform.h"

namespace {

std::string Contents(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Put(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

int64_t Big16(const uint8_t* bytes) { return bytes[0] << 8 | bytes[1]; }
int64_t Signed16(const uint8_t* bytes) { return static_cast<int16_t>(Big16(bytes)); }
int64_t Big32(const uint8_t* bytes) { return Big16(bytes) << 16 | Big16(bytes + 2); }

// What the input's bytes call for: the status info and explode give, the
// stored frames with pixels, the sides of each direction's screen and of the
// sheet (0 when unreadable), and whether the action frame is past the last.
struct Expected {
  int status;
  uint64_t pictures;
  int64_t screen_width[6], screen_height[6];
  uint64_t sheet_width, sheet_height;
  bool action_past_last;
};

Expected Expect(const uint8_t* data, size_t size) {
  Expected expected = {2, 0, {}, {}, 0, 0, false};
  if (size < 62 || Big16(data + 8) == 0) return expected;
  const int64_t frames = Big16(data + 8), area = static_cast<int64_t>(size) - 62;
  const uint8_t* frame_area = data + 62;
  bool regular = Big32(data) == 4 && Big16(data + 6) < frames;
  expected.action_past_last = Big16(data + 6) >= frames;
  int64_t stored = 0, next = 0, total = 0, end = 0;
  int64_t sheet[4] = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};  // left, top, right, bottom
  for (int d = 0; d < 6; ++d) {
    int64_t start = Big32(data + 34 + 4 * d);
    int owner = d;
    for (int e = d - 1; e >= 0; --e) owner = Big32(data + 34 + 4 * e) == start ? e : owner;
    if (owner != d) {  // the same frames moved by another shift: a screen of the same size
      expected.screen_width[d] = expected.screen_width[owner],
      expected.screen_height[d] = expected.screen_height[owner];
      continue;
    }
    ++stored;
    regular = regular && start == next;
    int64_t box[4] = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
    int64_t x = Signed16(data + 10 + 2 * d), y = Signed16(data + 22 + 2 * d), at = start;
    for (int64_t k = 0; k < frames; ++k) {
      if (at + 12 > area) return expected;
      const uint8_t* frame = frame_area + at;
      const int64_t width = Big16(frame), height = Big16(frame + 2), count = Big32(frame + 4);
      if (count < width * height || at + 12 + count > area) return expected;
      regular = regular && count == width * height;
      if (k > 0) x += Signed16(frame + 8), y += Signed16(frame + 10);
      const int64_t edges[4] = {x - width / 2, y - height, x - width / 2 + width, y};
      for (int side = 0; side < 4; ++side) {
        const int64_t edge = width * height == 0 ? (side % 2 == 0 ? x : y) : edges[side];
        box[side] = side < 2 ? std::min(box[side], edge) : std::max(box[side], edge);
        sheet[side] = side < 2 ? std::min(sheet[side], edge) : std::max(sheet[side], edge);
      }
      expected.pictures += width * height > 0;
      at += 12 + count;
    }
    expected.screen_width[d] = box[2] - box[0], expected.screen_height[d] = box[3] - box[1];
    total += at - start;
    end = std::max(end, at);
    next = at;
  }
  regular = regular && Big32(data + 58) == total && end == area;
  expected.status = regular ? 0 : 1;
  expected.sheet_width = std::max<int64_t>(1, sheet[2] - sheet[0]) * frames;
  expected.sheet_height = std::max<int64_t>(1, sheet[3] - sheet[1]) * stored;
  return expected;
}

// A sheet this large would take a long time to write and say nothing new.
constexpr uint64_t kLargestSheet = uint64_t{1} << 22;

// The pictures frames.txt names.
std::vector<std::string> ListedPictures(const std::string& list) {
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size();) {
    const size_t end = std::min(list.find('\n', at), list.size());
    const std::string_view line = std::string_view(list).substr(at, end - at);
    if (line.substr(0, 6) == "frame ") names.emplace_back(line.substr(6, line.find(' ', 6) - 6));
    at = end + 1;
  }
  return names;
}

std::set<std::string> Entries(const char* folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

void CheckFrameList(std::string_view text) {
  FrameList list;
  try {
    list = ParseFrameList(text);
  } catch (const FileProblem& problem) {
    Require(problem.what.substr(0, 5) == "line ", "a list's problem without its line");
    return;
  }
  Require(list.directions.size() == 1 || list.directions.size() == 6, "a list of neither one direction nor six");
  Require(list.frames_per_direction >= 1 && list.frames_per_direction <= 65535, "a list's frame count out of range");
  for (size_t d = 0; d < list.directions.size(); ++d) {
    const ListedDirection& direction = list.directions[d];
    Require(direction.same_as < static_cast<int32_t>(d), "same-as a later direction");
    Require(direction.frames.size() == (direction.same_as >= 0 ? 0 : list.frames_per_direction),
            "a direction of another frame count");
  }
}

}  // namespace

// Every command's arguments here are right: a usage error is a fault.
int UsageError(const std::string& what) {
  std::fprintf(stderr, "usage error: %s\n", what.c_str());
  std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzDirectory("tessera-frm-fuzz-");
  Require(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output not sent away");
  std::string palette;
  for (int k = 0; k < 768; ++k) palette += static_cast<char>(k / 12);  // a raw table of 6-bit values
  Put("pal", palette);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckFrameList(input);

  const Expected expected = Expect(data, size);
  Put("x.frm", input);
  Require(RunInfo({"x.frm"}) == expected.status, "info's status is not the file's");

  const int exploded = RunExplode({"pal", "x.frm", "out"});
  Require(exploded == expected.status, "explode's status is not the file's");
  if (exploded == 2) {
    Require(!std::filesystem::exists("out/frames.txt"), "a failed explode left a frames.txt");
  } else {
    const std::vector<std::string> pictures = ListedPictures(Contents("out/frames.txt"));
    Require(pictures.size() == expected.pictures, "not a picture for each stored frame with pixels");
    std::set<std::string> wanted(pictures.begin(), pictures.end());
    wanted.insert("frames.txt");
    Require(Entries("out") == wanted, "explode's folder holds other files than frames.txt and its pictures");

    // make of the folder: the input again, or a regular file for an irregular one.
    const int made = RunMake({"back.frm", "out"});
    if (expected.action_past_last) {
      Require(made == 2 && !std::filesystem::exists("back.frm"), "make took an action frame past the last");
    } else {
      Require(made == 0, "make refused what explode wrote");
      const std::string back = Contents("back.frm");
      if (exploded == 0) Require(back == input, "the round trip changed the file");
      const Expected rebuilt = Expect(reinterpret_cast<const uint8_t*>(back.data()), back.size());
      Require(rebuilt.status == 0 && rebuilt.pictures == expected.pictures, "an irregular file rebuilt irregular");
      std::filesystem::remove("back.frm");
    }
  }

  const uint32_t d = size % 6;
  const int animated = RunPreview({"--direction", std::to_string(d), "pal", "x.frm", "p.gif"});
  const bool screen_fits = expected.screen_width[d] <= 65535 && expected.screen_height[d] <= 65535;
  Require(animated == (expected.status < 2 && screen_fits ? 0 : 2), "preview's GIF status is not the file's");
  Require(std::filesystem::exists("p.gif") == (animated == 0), "a GIF written on a failure, or none on success");
  const uint64_t width = expected.sheet_width, height = expected.sheet_height;
  const bool sheet_fits = width < kBlockLimit && height < kBlockLimit && (width + 1) * height < kBlockLimit;
  if (!sheet_fits || (width + 1) * height <= kLargestSheet) {
    const int sheet = RunPreview({"pal", "x.frm", "p.png"});
    Require(sheet == (expected.status < 2 && sheet_fits ? 0 : 2), "preview's sheet status is not the file's");
    Require(std::filesystem::exists("p.png") == (sheet == 0), "a sheet written on a failure, or none on success");
  }

  Require(Contents("x.frm") == input, "input changed");
  std::filesystem::remove_all("out");
  std::filesystem::remove("p.gif");
  std::filesystem::remove("p.png");
  Require(Entries(".") == std::set<std::string>{"pal", "x.frm"}, "a file left behind");
  return 0;
}
