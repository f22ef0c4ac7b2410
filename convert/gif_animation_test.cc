#include "convert/gif_animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <fstream>
#include <string>

#include "common/problem.h"
#include "convert/readers.h"

namespace {

using namespace std::string_literals;

std::string Little16(uint32_t value) { return {char(value), char(value >> 8)}; }

// A colour table of `count` entries, entry i red `base` + i.
std::string Table(uint32_t count, uint8_t base) {
  std::string table;
  for (uint32_t i = 0; i < count; ++i) table += {char(base + i), 0, 0};
  return table;
}

// The table-size bits of flags for a table of `count` entries (a power of 2).
char TableFlags(uint32_t count) { return count == 0 ? 0 : char(0x80 | (std::bit_width(count) - 2)); }

std::string Screen(uint32_t width, uint32_t height, uint32_t colours, uint8_t background) {
  return "GIF89a" + Little16(width) + Little16(height) + TableFlags(colours) + char(background) + '\0' +
         Table(colours, 0);
}

std::string Control(uint32_t disposal, int32_t transparent, uint32_t delay) {
  return "\x21\xF9\x04"s + char(disposal << 2 | (transparent >= 0)) + Little16(delay) + char(transparent) + '\0';
}

// An image of `rows`, one digit an index, the top row first. Each index is a
// code of its own, with a clear code before the codes would widen.
std::string Image(uint32_t left, uint32_t top, uint32_t width, uint32_t height, const std::string& rows,
                  uint32_t local = 0, bool interlace = false) {
  std::string stored;
  for (uint32_t pass = 0; pass < (interlace ? 4 : 1); ++pass) {
    const uint32_t start = interlace ? "\0\4\2\1"[pass] : 0, step = interlace ? "\10\10\4\2"[pass] : 1;
    for (uint32_t y = start; y < height; y += step) stored += rows.substr(y * width, width);
  }
  const uint32_t code_size = rows.find_first_not_of("0123") == std::string::npos ? 2 : 8, clear = 1u << code_size;
  std::string codes, data;
  uint64_t bits = 0, count = 0;
  auto emit = [&](uint32_t code) {
    for (bits |= uint64_t{code} << count, count += code_size + 1; count >= 8; bits >>= 8, count -= 8)
      codes += char(bits);
  };
  for (size_t at = 0; at < stored.size(); ++at) {
    if (at % (clear - 2) == 0) emit(clear);
    emit(stored[at] - '0');
  }
  emit(clear + 1);
  if (count > 0) codes += char(bits);
  for (size_t at = 0; at < codes.size(); at += 255) data += char(codes.substr(at, 255).size()) + codes.substr(at, 255);
  return "\x2C"s + Little16(left) + Little16(top) + Little16(width) + Little16(height) +
         char(TableFlags(local) | (interlace ? 0x40 : 0)) + Table(local, 100) + char(code_size) + data + '\0';
}

std::string Cut(const std::string& gif, size_t count) { return gif.substr(0, gif.size() - count); }

const std::string kScreen = Screen(3, 2, 4, 2), kFirst = Image(0, 0, 3, 2, "000000");
const std::string kLoop = "\x21\xFF\x0BNETSCAPE2.0\x03\x01\x05\x00\x00"s;
const std::string kFirstSeen = "3x2 s2 L-1 | d0 t-1 y0 g4 000000";  // kScreen + kFirst, as a walk sees it

// The screen, then each image as ReadGifImages gives it and the frame after
// it, its indices as digits; and the first frame alone.
struct Seen {
  std::string text, first;
};

void TakeFrame(const GifScreen& screen, const GifImage& image, const uint8_t* frame, void* context) {
  std::string& seen = static_cast<Seen*>(context)->text;
  if (image.number == 1) {
    seen = std::to_string(screen.width) + "x" + std::to_string(screen.height) + " s" + std::to_string(screen.start) +
           " L" + std::to_string(screen.loop_count);
  }
  seen += " | d" + std::to_string(image.disposal) + " t" + std::to_string(image.transparent) + " y" +
          std::to_string(image.delay) + (image.local_table ? " l" : " g") + std::to_string(image.colours->count) +
          (image.interlaced ? " i " : " ");
  const size_t at = seen.size();
  for (uint64_t pixel = 0; pixel < uint64_t{screen.width} * screen.height; ++pixel) seen += char('0' + frame[pixel]);
  if (image.number == 1) static_cast<Seen*>(context)->first = seen.substr(at);
  const bool* clear = image.colours->clear;
  EXPECT_EQ(std::find(clear, clear + 256, true) - clear, image.transparent < 0 ? 256 : image.transparent);
  EXPECT_EQ(std::count(clear, clear + 256, true), image.transparent >= 0);
  if (image.colours->count > 1) {
    EXPECT_EQ(image.colours->colours[1][0], image.local_table ? 101 : 1);
  }
}

TEST(GifAnimation, FramesAndStops) {
  const struct {
    const char* name;
    std::string gif, seen;  // what TakeFrame sees, and the image a stop names
  } cases[] = {
      {"disposal 0; the first image whole, later ones but their transparent pixels",
       kScreen + Control(0, 1, 10) + Image(0, 0, 3, 2, "011101") + Control(0, 3, 0) + Image(1, 0, 2, 2, "3033") + ";",
       "3x2 s2 L-1 | d0 t1 y10 g4 011101 | d0 t3 y0 g4 010101"},
      {"disposal 1 and 5 keep the screen; a control governs one image",
       kScreen + Control(1, -1, 0) + kFirst + Control(5, -1, 0) + Image(0, 0, 1, 1, "1") + Image(2, 1, 1, 1, "3") + ";",
       "3x2 s2 L-1 | d1 t-1 y0 g4 000000 | d5 t-1 y0 g4 100000 | d0 t-1 y0 g4 100003"},
      {"disposal 2: the start value without a transparent index, else that index",
       kScreen + kFirst + Control(2, -1, 0) + Image(1, 0, 2, 1, "11") + Control(2, 3, 0) + Image(0, 0, 2, 2, "1313") +
           Image(2, 1, 1, 1, "1") + ";",
       kFirstSeen + " | d2 t-1 y0 g4 011000 | d2 t3 y0 g4 122100 | d0 t-1 y0 g4 332331"},
      {"disposal 3 without a transparent index; no trailer",
       kScreen + Image(0, 0, 3, 2, "012012") + Control(3, -1, 0) + Image(1, 0, 2, 2, "3333") + Image(0, 0, 1, 1, "3"),
       "3x2 s2 L-1 | d0 t-1 y0 g4 012012 | d3 t-1 y0 g4 033033 | d0 t-1 y0 g4 312012"},
      {"disposal 3 with one, on the first image too",
       kScreen + Control(3, 1, 0) + Image(0, 0, 2, 1, "11") + Control(3, 0, 0) + Image(1, 0, 2, 2, "0330") +
           Image(0, 1, 1, 1, "0") + ";",
       "3x2 s2 L-1 | d3 t1 y0 g4 112222 | d3 t0 y0 g4 223232 | d0 t-1 y0 g4 222022"},
      {"disposal 2 of the first image, without a global table: 0",
       Screen(3, 2, 0, 2) + Control(2, -1, 0) + Image(0, 0, 2, 1, "11", 2) + Image(2, 1, 1, 1, "1") + ";",
       "3x2 s0 L-1 | d2 t-1 y0 l2 110000 | d0 t-1 y0 g0 000001"},
      {"interlaced images with local tables",
       Screen(2, 5, 4, 0) + Image(0, 0, 2, 5, "0112233001", 8, true) + Image(0, 1, 2, 3, "332211", 2, true) + ";",
       "2x5 s0 L-1 | d0 t-1 y0 l8 i 0112233001 | d0 t-1 y0 l2 i 0133221101"},
      {"off the screen: dropped, and disposed of as far as it is on it",
       Screen(3, 2, 4, 0) + Image(1, 1, 3, 3, "111111111") + Control(2, -1, 0) + Image(2, 0, 5, 1, "33333") +
           Control(3, -1, 0) + Image(4, 0, 1, 1, "2") + Control(3, -1, 0) + Image(0, 3, 1, 1, "2") + ";",
       "3x2 s0 L-1 | d0 t-1 y0 g4 000011 | d2 t-1 y0 g4 003011 | d3 t-1 y0 g4 000011 | d3 t-1 y0 g4 000011"},
      {"screen sides of 0: the first image's far edges; a loop count; an image of width 0; bytes after the trailer",
       Screen(0, 0, 4, 1) + kLoop + Image(1, 1, 2, 1, "33") + Image(0, 0, 4, 4, "2222222222222222") +
           Image(1, 0, 0, 2, "") + ";garbage",
       "3x2 s1 L5 | d0 t-1 y0 g4 111133 | d0 t-1 y0 g4 222222 | d0 t-1 y0 g4 222222"},
      {"of two controls the last; the file ends after an image's last index",
       Cut(kScreen + kFirst + Control(2, 1, 7) + Control(0, 3, 25) + Image(0, 0, 1, 1, "3"), 1),
       kFirstSeen + " | d0 t3 y25 g4 000000"},
      {"a second image cut short", Cut(kScreen + kFirst + Image(0, 0, 3, 2, "111111"), 3), kFirstSeen + " | stop 2"},
      {"a code size past 8", kScreen + kFirst + Image(0, 0, 1, 1, "0").substr(0, 10) + "\x09\x01\x00\x00"s,
       kFirstSeen + " | stop 2"},
      {"an undefined code", kScreen + kFirst + Image(0, 0, 1, 1, "0").substr(0, 10) + "\x02\x01\x07\x00"s,
       kFirstSeen + " | stop 2"},
      {"a byte that starts no block", kScreen + kFirst + "\x99", kFirstSeen + " | stop 2"},
      {"an extension cut short", kScreen + kFirst + "\x21\xFE\x05" + "ab", kFirstSeen + " | stop 2"},
      {"no image", kScreen + Control(0, 1, 0) + ";", " | stop 1"},
  };
  const std::string name = ::testing::TempDir() + "animation.gif";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(name, std::ios::binary) << c.gif;
    Seen seen;
    GifWalk walk;
    FileHandle input;
    ASSERT_EQ(FileOpenForReading(name.c_str(), &input), 0u);
    try {
      ReadGifFrames(input, TakeFrame, &seen, &walk);
      EXPECT_EQ(walk.image, std::count(seen.text.begin(), seen.text.end(), '|'));
      FileClose(input);
    } catch (const FileProblem& problem) {
      seen.text +=
          " | " + (problem.what == "damaged or cut short" ? "stop " + std::to_string(walk.image) : problem.what);
    }
    EXPECT_EQ(seen.text, c.seen);
    if (seen.first.empty()) continue;  // the first frame is the picture tessera reads
    ASSERT_EQ(FileOpenForReading(name.c_str(), &input), 0u);
    uint8_t start[kStartSize];
    uint32_t got;
    ASSERT_EQ(FileRead(input, start, sizeof start, &got), 0u);
    const Picture picture = ReadGif(input, start, got, nullptr);
    std::string indices(reinterpret_cast<const char*>(picture.rows), picture.width * picture.height);
    for (char& index : indices) index += '0';
    EXPECT_EQ(seen.first, indices);
    ReleaseBlock(picture.block);
    FileClose(input);
  }
}

}  // namespace
