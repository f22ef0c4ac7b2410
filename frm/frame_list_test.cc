#include "frm/frame_list.h"

#include <gtest/gtest.h>

#include <string>

#include "common/problem.h"

namespace {

// The list in short: "fps action n" and each direction's "shift [same-as]:
// frames", a frame as name@x,y or WxH@x,y.
std::string Describe(const FrameList& list) {
  std::string text = std::to_string(list.fps) + " " + std::to_string(list.action_frame) + " " +
                     std::to_string(list.frames_per_direction);
  for (const ListedDirection& d : list.directions) {
    text += " | " + std::to_string(d.shift_x) + "," + std::to_string(d.shift_y);
    if (d.same_as >= 0) text += " =" + std::to_string(d.same_as);
    text += ":";
    for (const ListedFrame& f : d.frames) {
      text += " " + (f.name.empty() ? std::to_string(f.width) + "x" + std::to_string(f.height) : f.name) + "@" +
              std::to_string(f.x_offset) + "," + std::to_string(f.y_offset);
    }
  }
  return text;
}

std::string Parsed(const std::string& text) {
  try {
    return Describe(ParseFrameList(text));
  } catch (const FileProblem& problem) {
    return "! " + problem.what;
  }
}

const std::string kSix =
    "direction 1 same-as 0\ndirection 2 same-as 0\ndirection 3 same-as 0\n"
    "direction 4 same-as 0\ndirection 5 same-as 0\n";

struct Row {
  std::string text, expected;  // "! " and the start of the message for an error
};

const Row kRows[] = {
    {"direction 0\nframe a.png\n", "-1 -1 1 | 0,0: a.png@0,0"},
    {"\xEF\xBB\xBF# made by explode\r\n\r\n  fps 12 \r\naction-frame 1\r\ndirection 0 shift -3 4\r\n"
     "\tframe my walk  1.png offset -1 2\r\nempty 0 7\r\n",
     "12 1 2 | -3,4: my walk  1.png@-1,2 0x7@0,0"},
    {"direction 0\nframe offset.png\nempty 5 0 offset 1 -1\n", "-1 -1 2 | 0,0: offset.png@0,0 5x0@1,-1"},
    {"direction 0\nframe a\ndirection 1 same-as 0 shift 1 1\ndirection 2\nframe b\n"
     "direction 3 same-as 2\ndirection 4 same-as 3\ndirection 5\nframe c\n",
     "-1 -1 1 | 0,0: a@0,0 | 1,1 =0: | 0,0: b@0,0 | 0,0 =2: | 0,0 =3: | 0,0: c@0,0"},
    {"", "! line 1: the list has no direction"},
    {"frame a\n", "! line 1: a frame comes after the direction"},
    {"direction 1\n", "! line 1: direction 0 comes next"},
    {"direction 0\nframe a\ndirection 2\n", "! line 3: direction 1 comes next"},
    {"direction 0\nframe a\n" + kSix + "direction 6\n", "! line 8: a list has at most six"},
    {"direction 0 same-as 0\n", "! line 1: direction 0 comes first"},
    {"direction 0\nframe a\ndirection 1 same-as 1\n", "! line 3: same-as takes an earlier direction, 0 to 0"},
    {"direction 0\nframe a\ndirection 1 same-as 0\nframe b\n", "! line 4: a direction same-as another takes no"},
    {"direction 0\nframe a\ndirection 1\nframe b\n", "! line 3: the list ends at direction 1"},
    {"direction 0\nframe a\nframe b\ndirection 1\nframe c\n", "! line 4: direction 1 has 1 frames and direction 0 2"},
    {"direction 0\ndirection 1\n", "! line 1: direction 0 has no frames"},
    {"direction 0 shift 1\n", "! line 1: shift takes X and Y"},
    {"direction 0 shift 1 32768\n", "! line 1: shift takes X and Y"},
    {"direction 0 shift 1 2 3\n", "! line 1: a direction line is"},
    {"direction 0\nframe a offset 1 x\n", "! line 2: offset takes X and Y"},
    {"direction 0\nframe offset 1 2\n", "! line 2: a frame line is"},
    {"direction 0\nempty 2 3\n", "! line 2: an empty frame has no pixels"},
    {"direction 0\nempty 0\n", "! line 2: an empty line is"},
    {"direction 0\nempty 0 65536\n", "! line 2: empty takes a number"},
    {"fps 1\nfps 2\n", "! line 2: a second fps line"},
    {"direction 0\nframe a\nfps 2\n", "! line 3: fps comes before the first direction"},
    {"fps -1\n", "! line 1: fps takes a number"},
    {"action-frame 1\ndirection 0\nframe a\n", "-1 1 1 | 0,0: a@0,0"},  // make says it is past the last
    {"direction 0\nframes a\n", "! line 2: no statement frames"},
};

TEST(ParseFrameList, Rows) {
  for (const Row& row : kRows) {
    const std::string got = Parsed(row.text);
    EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << row.text;
  }
}

}  // namespace
