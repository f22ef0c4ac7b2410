#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "palette/palette.h"

namespace {

using namespace std::string_literals;

std::string Riff(const std::string& chunks) {
  const std::string body = "PAL " + chunks;
  const uint32_t size = static_cast<uint32_t>(body.size());
  return "RIFF" + std::string{char(size), char(size >> 8), char(size >> 16), char(size >> 24)} + body;
}

// A RIFF chunk: id, size, data.
std::string Chunk(const char* id, const std::string& data) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  return id + std::string{char(size), char(size >> 8), char(size >> 16), char(size >> 24)} + data;
}

struct Case {
  const char* name;
  std::string bytes;
  uint32_t depth;  // for a table
  // What comes of it: the entries and precision, the last entry's colour,
  // or the problem's words.
  uint32_t count, bits;
  uint8_t last[3];
  const char* problem;
};

const std::string kTable8 = std::string(765, '\x40') + "\xFF\x80\x01";

TEST(PaletteFormats, ReadOrRefused) {
  const Case cases[] = {
      {"JASC-PAL", "JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n4 5 6\r\n", 0, 2, 8, {4, 5, 6}, nullptr},
      {"JASC-PAL, blanks and tabs ending lines",
       "JASC-PAL \r\n0100\t\n2 \n1 2 3 \n4 5 6\t\n",
       0,
       2,
       8,
       {4, 5, 6},
       nullptr},
      {"JASC-PAL with alpha, LF only", "JASC-PAL\n0100\n1\n7 8 9 255\n", 0, 1, 8, {7, 8, 9}, nullptr},
      {"JASC-PAL cut short", "JASC-PAL\n0100\n3\n1 2 3\n", 0, 0, 0, {}, "cut short: 1 of 3 colours"},
      {"JASC-PAL of another version", "JASC-PAL\n0200\n1\n1 2 3\n", 0, 0, 0, {}, "line 2: not version 0100"},
      {"JASC-PAL value above 255",
       "JASC-PAL\n0100\n1\n1 256 3\n",
       0,
       0,
       0,
       {},
       "line 4: not a colour of three values 0 to 255"},
      {"GIMP", "GIMP Palette\nName: x\nColumns: 4\n# note\n\n 10  20  30\tdark\n", 0, 1, 8, {10, 20, 30}, nullptr},
      {"GIMP, blanks ending the header", "GIMP Palette  \n1 2 3 \n", 0, 1, 8, {1, 2, 3}, nullptr},
      {"GIMP without colours", "GIMP Palette\n# none\n", 0, 0, 0, {}, "no colours"},
      {"text of neither kind",
       "JASC-PAL-X\n0100\n1\n1 2 3\n",
       0,
       0,
       0,
       {},
       "line 1: neither \"JASC-PAL\" nor \"GIMP Palette\""},
      {"RIFF", Riff(Chunk("data", "\0\3\2\0abc\0def\0"s)), 0, 2, 8, {'d', 'e', 'f'}, nullptr},
      {"RIFF past another chunk, odd-sized",
       Riff(Chunk("fact", "abc") + "\0"s + Chunk("data", "\0\3\1\0xyz\0"s)),
       0,
       1,
       8,
       {'x', 'y', 'z'},
       nullptr},
      {"RIFF chunk past the end",
       Riff(Chunk("data", "\0\3\1\0"s)).substr(0, 22),
       0,
       0,
       0,
       {},
       "cut short: a chunk runs past the end of the file"},
      {"RIFF short of its colours",
       Riff(Chunk("data", "\0\3\2\0abc\0"s)),
       0,
       0,
       0,
       {},
       "cut short: a data chunk too short for its 2 colours"},
      {"RIFF without data", Riff(Chunk("fact", "ab")), 0, 0, 0, {}, "a RIFF palette without a data chunk"},
      {"table of 8 bits", kTable8, 0, 256, 8, {0xFF, 0x80, 0x01}, nullptr},
      {"table of 6 bits", std::string(765, '\x10') + "\x3F\x20\x01", 0, 256, 6, {0xFF, 0x82, 0x04}, nullptr},
      {"table said to be 8 bits", std::string(765, '\x10') + "\x3F\x20\x01", 8, 256, 8, {0x3F, 0x20, 0x01}, nullptr},
      {"table said to be 6 bits", kTable8, 6, 0, 0, {}, "a byte above 63 in a table of 6-bit values"},
      {"Adobe table of 3 colours",
       std::string(6, '\0') + "\x07\x08\x09" + std::string(759, '\0') + "\0\3\xFF\xFF"s,
       0,
       3,
       8,
       {7, 8, 9},
       nullptr},
      {"Adobe table of no colours",
       std::string(768, '\0') + std::string(4, '\0'),
       0,
       0,
       0,
       {},
       "not a count of 1 to 256 colours: 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Palette palette = {};
    std::string problem;
    try {
      if (c.bytes.rfind("RIFF", 0) == 0) {
        EXPECT_TRUE(ParseRiffPalette(c.bytes, &palette));
      } else if (c.bytes.size() == 768 || c.bytes.size() == 772) {
        ParseColourTable(c.bytes, c.depth, &palette);
      } else {
        ParseTextPalette(c.bytes, &palette);
      }
    } catch (const FileProblem& thrown) {
      problem = thrown.what;
    }
    if (c.problem != nullptr) {
      EXPECT_EQ(problem, c.problem);
      continue;
    }
    ASSERT_EQ(problem, "");
    EXPECT_EQ(palette.first, 0u);
    EXPECT_EQ(palette.count, c.count);
    EXPECT_EQ(palette.bits, c.bits);
    const uint8_t* last = palette.colours[c.count - 1];
    EXPECT_EQ(std::string(last, last + 3), std::string(c.last, c.last + 3));
  }
}

}  // namespace
