// Palettes written as text, one colour a line; lines end in LF or CR LF.
//
//   JASC-PAL   "JASC-PAL", "0100", the count of colours, then that many
//              "R G B" lines (a fourth column, alpha, is ignored)
//   GIMP       "GIMP Palette", then "R G B name" lines; "Name:", "Columns:"
//              and "Channels:" lines, "#" comments and blank lines between
//              them say nothing about the colours
//
// Values are 0 to 255; 1 to 256 colours. Blanks and tabs may end any line.
#include <cstdint>
#include <string>

#include "palette/palette.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The next line from `at`, without its line end and the blanks and tabs
// editors leave before it; false past the last one.
bool NextLine(const std::string& text, size_t* at, std::string* line) {
  if (*at >= text.size()) return false;
  size_t end = text.find('\n', *at);
  if (end == std::string::npos) end = text.size();
  *line = text.substr(*at, end - *at);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  while (!line->empty() && IsBlank(line->back())) line->pop_back();
  *at = end + 1;
  return true;
}

// Reads `count` whole numbers of 0 to `largest` from the start of `line`,
// each after blanks; true when they are all there, each ending in a blank or
// the line's end.
bool ReadNumbers(const std::string& line, uint32_t count, uint32_t largest, uint32_t* numbers) {
  size_t at = 0;
  for (uint32_t k = 0; k < count; ++k) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const size_t digits = at;
    uint32_t number = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && number <= largest) {
      number = number * 10 + static_cast<uint32_t>(line[at++] - '0');
    }
    if (at == digits || number > largest || (at < line.size() && !IsBlank(line[at]))) return false;
    numbers[k] = number;
  }
  return true;
}

[[noreturn]] void BadLine(int number, const char* what) {
  ThrowProblem("line " + std::to_string(number) + ": " + what);
}

// The colour of `line` (number `number`) as the palette's next entry.
void AddColour(const std::string& line, int number, Palette* palette) {
  uint32_t rgb[3];
  if (!ReadNumbers(line, 3, 255, rgb)) BadLine(number, "not a colour of three values 0 to 255");
  if (palette->count == 256) BadLine(number, "more than 256 colours");
  for (int channel = 0; channel < 3; ++channel) {
    palette->colours[palette->count][channel] = static_cast<uint8_t>(rgb[channel]);
  }
  ++palette->count;
}

void ParseJasc(const std::string& text, size_t at, Palette* palette) {
  std::string line;
  if (!NextLine(text, &at, &line) || line != "0100") BadLine(2, "not version 0100");
  uint32_t count;
  if (!NextLine(text, &at, &line) || !ReadNumbers(line, 1, 256, &count) || count == 0) {
    BadLine(3, "not a count of 1 to 256 colours");
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (!NextLine(text, &at, &line)) {
      ThrowProblem("cut short: " + std::to_string(k) + " of " + std::to_string(count) + " colours");
    }
    AddColour(line, static_cast<int>(k + 4), palette);
  }
}

bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

void ParseGimp(const std::string& text, size_t at, Palette* palette) {
  std::string line;
  for (int number = 2; NextLine(text, &at, &line); ++number) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (StartsWith(line, "Name:") || StartsWith(line, "Columns:") || StartsWith(line, "Channels:")) continue;
    AddColour(line, number, palette);
  }
  if (palette->count == 0) ThrowProblem("no colours");
}

}  // namespace

void ParseTextPalette(const std::string& text, Palette* palette) {
  *palette = {0, 0, 8, {}, {}};
  size_t at = 0;
  std::string line;
  NextLine(text, &at, &line);
  if (line == "JASC-PAL") {
    ParseJasc(text, at, palette);
  } else if (line == "GIMP Palette") {
    ParseGimp(text, at, palette);
  } else {
    BadLine(1, "neither \"JASC-PAL\" nor \"GIMP Palette\"");
  }
}
