#include "convert/frame_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const FrameHeader& header) {
  const uint8_t* start = reinterpret_cast<const uint8_t*>(&header);
  return std::vector<uint8_t>(start, start + sizeof header);
}

std::vector<uint8_t> Filled(uint32_t width, uint32_t height) {
  FrameHeader header = kFrameHeaderTemplate;
  FillFrameHeader(&header, width, height);
  return Bytes(header);
}

TEST(Swap, ReversesBytes) {
  EXPECT_EQ(SwapLong(0x12345678), 0x78563412u);
  EXPECT_EQ(SwapWord(0xABCD1234), 0x3412);
}

TEST(FillFrameHeader, ThreeByTwo) {
  std::vector<uint8_t> expected = {0, 0, 0, 4, 0, 0, 0, 0, 0, 1};
  expected.resize(58, 0);
  for (uint8_t byte : {0, 0, 0, 0x12, 0, 3, 0, 2, 0, 0, 0, 6, 0, 0, 0, 0}) expected.push_back(byte);
  EXPECT_EQ(Filled(3, 2), expected);
}

TEST(FillFrameHeader, SizeFieldsAreBigEndian) {
  std::vector<uint8_t> bytes = Filled(640, 480);
  std::vector<uint8_t> sizes(bytes.begin() + 58, bytes.begin() + 70);
  EXPECT_EQ(sizes, (std::vector<uint8_t>{0x00, 0x04, 0xB0, 0x0C, 0x02, 0x80, 0x01, 0xE0, 0x00, 0x04, 0xB0, 0x00}));

  // Empty image: frame area is the frame header alone.
  bytes = Filled(0, 7);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 58, bytes.begin() + 62), (std::vector<uint8_t>{0, 0, 0, 12}));

  // The product keeps its 32-bit pattern; width and height keep 16 bits.
  bytes = Filled(65535, 65535);  // 0xFFFE0001
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 58, bytes.begin() + 70),
            (std::vector<uint8_t>{0xFF, 0xFE, 0x00, 0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x01}));
  bytes = Filled(0x12345, 1);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 62, bytes.begin() + 64), (std::vector<uint8_t>{0x23, 0x45}));
}

TEST(FillFrameHeader, NothingSurvivesFromAnEarlierFill) {
  FrameHeader header = kFrameHeaderTemplate;
  std::memset(reinterpret_cast<char*>(&header) + 10, 0xAA, sizeof header - 10);
  FillFrameHeader(&header, 3, 2);
  EXPECT_EQ(Bytes(header), Filled(3, 2));
  FillFrameHeader(&header, 640, 480);
  FillFrameHeader(&header, 3, 2);
  EXPECT_EQ(Bytes(header), Filled(3, 2));
}

}  // namespace
