// frames.txt: the list of an FRM's frames that explode writes and make reads.
//
// Text, one statement a line. A line whose first character other than a blank
// (space or tab) is `#` is a comment; blank lines and blanks around a
// statement are ignored; lines end in LF or CR LF, and a UTF-8 byte-order
// mark at the start is passed over. The statements:
//
//   fps N                              once, before the first direction
//   action-frame K                     once, before the first direction
//   direction D [same-as E] [shift X Y]
//   frame NAME [offset X Y]            NAME may hold blanks
//   empty W H [offset X Y]             a frame of no pixels: W or H is 0
//
// Directions run 0, 1, ... in order: direction 0 alone, or all six. Each
// frame and empty line adds a frame to the direction above it; a direction
// `same-as` an earlier one E shares E's frames and has no frame lines of its
// own. Every direction has the same number of frames (1 to 65535), and the
// action frame is below it. N, K, W and H are 0 to 65535; shifts and offsets
// -32768 to 32767; numbers in decimal digits, a shift or offset after an
// optional minus sign.
#ifndef TESSERA_FRM_FRAME_LIST_H_
#define TESSERA_FRM_FRAME_LIST_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ListedFrame {
  std::string name;        // the picture, relative to the list's folder; empty for an `empty` line
  uint16_t width, height;  // an `empty` line's
  int16_t x_offset, y_offset;
};

struct ListedDirection {
  int32_t same_as;  // the direction whose frames it shares, or -1
  int16_t shift_x, shift_y;
  std::vector<ListedFrame> frames;  // none when shared
};

struct FrameList {
  int32_t fps;                              // -1 when the list leaves it to make
  int32_t action_frame;                     // -1 when the list leaves it to make; may be past the last frame,
                                            // which --action-frame can mend
  std::vector<ListedDirection> directions;  // 1 or 6
  uint32_t frames_per_direction;
  uint32_t action_line;  // the line that gives the action frame
};

// A number in decimal digits from `low` to `high`, after a minus sign when
// `low` is below 0; the command line's numbers are read the same way.
bool ParseDecimal(std::string_view word, int64_t low, int64_t high, int64_t* value);

// Parses the text of a frames.txt. A list that breaks the rules above stops
// with a FileProblem saying "line N: " and what is wrong.
FrameList ParseFrameList(std::string_view text);

#endif  // TESSERA_FRM_FRAME_LIST_H_
