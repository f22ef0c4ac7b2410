#include "convert/decode.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct RleCase {
  const char* what;
  uint32_t bits, width, height;
  Bytes stream;
  Bytes pixels;  // bottom row first, as decoded
};

// Each case's stream is complete: it decodes to `pixels`, and every prefix of
// it that stops short of its end-of-bitmap marker is refused.
const RleCase kRleCases[] = {
    {"runs and ends of line", 8, 3, 2, {2, 7, 1, 8, 0, 0, 3, 9, 0, 1}, {7, 7, 8, 9, 9, 9}},
    {"odd literal and its padding", 8, 4, 1, {0, 3, 1, 2, 3, 0, 1, 4, 0, 1}, {1, 2, 3, 4}},
    {"even literal, no padding", 8, 4, 1, {0, 4, 1, 2, 3, 4, 0, 1}, {1, 2, 3, 4}},
    {"move right and up; skipped pixels are 0",
     8,
     3,
     3,
     {1, 5, 0, 2, 1, 1, 1, 6, 0, 0, 0, 2, 2, 0, 1, 7, 0, 1},
     {5, 0, 0, 0, 0, 6, 0, 0, 7}},
    {"early end of line and of bitmap leave 0", 8, 3, 3, {1, 5, 0, 0, 2, 6, 0, 1}, {5, 0, 0, 6, 6, 0, 0, 0, 0}},
    {"a run past the edge is dropped, not wrapped", 8, 2, 2, {5, 3, 0, 0, 1, 4, 0, 1}, {3, 3, 4, 0}},
    {"a literal past the edge is dropped", 8, 2, 2, {0, 3, 1, 2, 3, 0, 0, 0, 1, 4, 0, 1}, {1, 2, 4, 0}},
    {"a move past the edge drops the rest of the row", 8, 2, 2, {0, 2, 9, 0, 1, 1, 0, 0, 1, 2, 0, 1}, {0, 0, 2, 0}},
    {"rows above the top are dropped", 8, 1, 1, {1, 1, 0, 0, 1, 2, 0, 2, 0, 200, 1, 3, 0, 0, 1, 4, 0, 1}, {1}},
    {"bytes after the end are ignored", 8, 1, 1, {1, 1, 0, 1, 0, 0, 0}, {1}},
    {"RLE4 runs alternate high and low nibble", 4, 5, 1, {5, 0x12, 0, 1}, {1, 2, 1, 2, 1}},
    {"RLE4 literal of three in two bytes", 4, 3, 1, {0, 3, 0x12, 0x30, 0, 1}, {1, 2, 3}},
    {"RLE4 literal of five, padded", 4, 6, 1, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x60, 0, 1}, {1, 2, 3, 4, 5, 6}},
    {"RLE4 past the edge", 4, 3, 1, {4, 0x12, 0, 4, 0x34, 0x56, 0, 1}, {1, 2, 1}},
    {"an empty stream has no end", 8, 1, 1, {}, {}},
};

TEST(DecodeRle, EveryCommand) {
  for (const RleCase& c : kRleCases) {
    SCOPED_TRACE(c.what);
    const size_t size = c.stream.size();
    Bytes pixels(size_t{c.width} * c.height);
    bool ended = DecodeRle(c.stream.data(), size, c.bits, c.width, c.height, pixels.data());
    if (c.pixels.empty()) {
      EXPECT_FALSE(ended);
      continue;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(pixels, c.pixels);

    // The end-of-bitmap marker is the last command: every shorter stream
    // stops before it, whatever command it cuts.
    size_t end = 0;
    for (size_t at = 0; at + 1 < size; at += 2) {
      if (c.stream[at] == 0 && c.stream[at + 1] == 1) end = at + 2;
    }
    for (size_t cut = 0; cut < end; ++cut) {
      Bytes scratch(pixels.size());
      EXPECT_FALSE(DecodeRle(c.stream.data(), cut, c.bits, c.width, c.height, scratch.data())) << "cut at " << cut;
    }
  }
}

TEST(DecodeRle, PositionsNeverWrapAround) {
  // Moves that add up to 2^32 pixels right and rows up, then a run: were the
  // position kept in 32 bits, the run would land at the bottom left.
  Bytes stream;
  stream.reserve(16843009 * 4 + 8);
  for (int i = 0; i < 16843009; ++i) stream.insert(stream.end(), {0, 2, 255, 255});  // 255 x 16843009 = 2^32 - 1
  stream.insert(stream.end(), {0, 2, 1, 1, 1, 9, 0, 1});
  Bytes pixels(4);
  EXPECT_TRUE(DecodeRle(stream.data(), stream.size(), 8, 2, 2, pixels.data()));
  EXPECT_EQ(pixels, Bytes(4, 0));
}

TEST(ExpandRow, LeftmostPixelInTheHighBits) {
  struct {
    uint32_t bits, width;
    Bytes stored, pixels;
  } cases[] = {
      {1, 10, {0b10110001, 0b01000000}, {1, 0, 1, 1, 0, 0, 0, 1, 0, 1}},
      {2, 5, {0b11100100, 0b01000000}, {3, 2, 1, 0, 1}},
      {4, 3, {0xAB, 0xC0}, {0xA, 0xB, 0xC}},
  };
  for (const auto& c : cases) {
    Bytes pixels(c.width, 0xEE);
    ExpandRow(c.stored.data(), c.bits, c.width, pixels.data());
    EXPECT_EQ(pixels, c.pixels) << c.bits << " bits";
  }
}

}  // namespace
