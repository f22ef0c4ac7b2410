// The parser of frames.txt (the grammar is in frame_list.h).
#include "frm/frame_list.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/problem.h"
#include "frm/frm.h"

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

[[noreturn]] void Fail(uint32_t line, const std::string& what) {
  ThrowProblem("line " + std::to_string(line) + ": " + what);
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (size_t at = text.find_first_not_of(kBlanks); at != std::string_view::npos;
       at = text.find_first_not_of(kBlanks, at)) {
    const size_t end = std::min(text.find_first_of(kBlanks, at), text.size());
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

uint16_t Count(std::string_view word, uint32_t line, const char* what) {
  int64_t value;
  if (!ParseDecimal(word, 0, 65535, &value)) Fail(line, std::string(what) + " takes a number from 0 to 65535");
  return static_cast<uint16_t>(value);
}

// X and Y of a shift or an offset.
void Pair(const std::string_view* words, uint32_t line, const char* what, int16_t* x, int16_t* y) {
  int64_t value_x, value_y;
  if (!ParseDecimal(words[0], -32768, 32767, &value_x) || !ParseDecimal(words[1], -32768, 32767, &value_y)) {
    Fail(line, std::string(what) + " takes X and Y, each from -32768 to 32767");
  }
  *x = static_cast<int16_t>(value_x), *y = static_cast<int16_t>(value_y);
}

struct Parse {
  FrameList list;
  uint32_t line;
  uint32_t direction_line;  // where the last direction opened
  uint32_t action_line;
};

// Once a direction's frames are all there: as many as direction 0 has.
void CloseDirection(const Parse& parse) {
  const uint32_t d = static_cast<uint32_t>(parse.list.directions.size()) - 1;
  const ListedDirection& direction = parse.list.directions.back();
  if (direction.same_as >= 0) return;
  const size_t count = direction.frames.size(), first = parse.list.directions[0].frames.size();
  if (count == 0) {
    Fail(parse.direction_line, "direction " + std::to_string(d) +
                                   " has no frames: give it frame or empty lines, or make it same-as an earlier one");
  }
  if (count != first) {
    Fail(parse.direction_line, "direction " + std::to_string(d) + " has " + std::to_string(count) +
                                   " frames and direction 0 " + std::to_string(first) +
                                   ": every direction needs the same number");
  }
}

void ParseDirection(const std::vector<std::string_view>& words, Parse* parse) {
  const uint32_t line = parse->line, next = static_cast<uint32_t>(parse->list.directions.size());
  int64_t d;
  if (next == kFrmDirections || words.size() < 2 || !ParseDecimal(words[1], 0, 65535, &d) || d != next) {
    Fail(line, next < kFrmDirections
                   ? "direction " + std::to_string(next) + " comes next: directions run 0, 1, ... in order"
                   : "a list has at most six directions, 0 to 5");
  }
  if (next > 0) CloseDirection(*parse);
  ListedDirection direction = {-1, 0, 0, {}};
  size_t at = 2;
  if (at < words.size() && words[at] == "same-as") {
    if (d == 0) Fail(line, "direction 0 comes first and has frames of its own");
    int64_t e;
    if (at + 1 >= words.size() || !ParseDecimal(words[at + 1], 0, d - 1, &e)) {
      Fail(line, "same-as takes an earlier direction, 0 to " + std::to_string(d - 1));
    }
    direction.same_as = static_cast<int32_t>(e);
    at += 2;
  }
  if (at < words.size() && words[at] == "shift") {
    if (at + 3 > words.size()) Fail(line, "shift takes X and Y, each from -32768 to 32767");
    Pair(&words[at + 1], line, "shift", &direction.shift_x, &direction.shift_y);
    at += 3;
  }
  if (at != words.size()) Fail(line, "a direction line is: direction D [same-as E] [shift X Y]");
  parse->list.directions.push_back(direction);
  parse->direction_line = line;
}

// A frame or empty line, `rest` what follows its first word.
void ParseFrame(const std::vector<std::string_view>& words, std::string_view rest, Parse* parse) {
  const uint32_t line = parse->line;
  if (parse->list.directions.empty()) Fail(line, "a frame comes after the direction line it belongs to");
  ListedDirection& direction = parse->list.directions.back();
  if (direction.same_as >= 0) Fail(line, "a direction same-as another takes no frames of its own");
  if (direction.frames.size() == 65535) Fail(line, "a direction has at most 65535 frames");
  ListedFrame frame = {"", 0, 0, 0, 0};
  size_t end = words.size();
  if (end >= 3 && words[end - 3] == "offset") {
    Pair(&words[end - 2], line, "offset", &frame.x_offset, &frame.y_offset);
    end -= 3;
  }
  if (words[0] == "frame") {
    if (end < 2) Fail(line, "a frame line is: frame NAME [offset X Y]");
    // The name as written, blanks inside it kept.
    const size_t name_end = end < words.size() ? words[end].data() - rest.data() : rest.size();
    frame.name = std::string(Trim(rest.substr(0, name_end)));
  } else {
    if (end != 3) Fail(line, "an empty line is: empty W H [offset X Y]");
    frame.width = Count(words[1], line, "empty");
    frame.height = Count(words[2], line, "empty");
    if (frame.width != 0 && frame.height != 0) Fail(line, "an empty frame has no pixels: W or H is 0");
  }
  direction.frames.push_back(frame);
}

void ParseStatement(std::string_view statement, Parse* parse) {
  const std::vector<std::string_view> words = Words(statement);
  const std::string_view keyword = words[0];
  const uint32_t line = parse->line;
  if (keyword == "fps" || keyword == "action-frame") {
    int32_t* field = keyword == "fps" ? &parse->list.fps : &parse->list.action_frame;
    const std::string name(keyword);
    if (*field >= 0) Fail(line, "a second " + name + " line");
    if (!parse->list.directions.empty()) Fail(line, name + " comes before the first direction");
    if (words.size() != 2) Fail(line, name + " takes a number from 0 to 65535");
    *field = Count(words[1], line, name.c_str());
    if (keyword == "action-frame") parse->action_line = line;
  } else if (keyword == "direction") {
    ParseDirection(words, parse);
  } else if (keyword == "frame" || keyword == "empty") {
    ParseFrame(words, statement.substr(keyword.size()), parse);
  } else {
    Fail(line, "no statement " + std::string(keyword) + ": a line is fps, action-frame, direction, frame or empty");
  }
}

}  // namespace

bool ParseDecimal(std::string_view word, int64_t low, int64_t high, int64_t* value) {
  const bool negative = low < 0 && !word.empty() && word[0] == '-';
  const std::string_view digits = word.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  int64_t magnitude = 0;
  for (char digit : digits) magnitude = magnitude * 10 + (digit - '0');
  *value = negative ? -magnitude : magnitude;
  return *value >= low && *value <= high;
}

FrameList ParseFrameList(std::string_view text) {
  if (text.substr(0, 3) == kByteOrderMark) text.remove_prefix(3);
  Parse parse = {{-1, -1, {}, 0, 0}, 0, 0, 0};
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++parse.line;
    at = end + 1;
    const std::string_view statement = Trim(line);
    if (!statement.empty() && statement[0] != '#') ParseStatement(statement, &parse);
  }
  FrameList& list = parse.list;
  if (list.directions.empty()) Fail(std::max(parse.line, 1u), "the list has no direction line");
  CloseDirection(parse);
  if (list.directions.size() != 1 && list.directions.size() != kFrmDirections) {
    Fail(parse.direction_line, "the list ends at direction " + std::to_string(list.directions.size() - 1) +
                                   ": it has direction 0 alone or all six, 0 to 5");
  }
  list.frames_per_direction = static_cast<uint32_t>(list.directions[0].frames.size());
  list.action_line = parse.action_line;
  return list;
}
