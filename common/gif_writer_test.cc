#include "common/gif_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/png_writer.h"
#include "common/preview_marker.h"
#include "common/problem.h"
#include "convert/lzw.h"

namespace {

using namespace std::string_literals;

const std::string kFolder = [] {
  const auto path = std::filesystem::path(testing::TempDir()) / "tessera_tools_unit_tests";
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path / "failing");
  return path.string() + "/";
}();

std::string Load(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string Little16(uint32_t value) { return {char(value), char(value >> 8)}; }

// The picture `name` holds, through the readers, and its palette.
std::string ReadBack(const std::string& name, Palette* palette) {
  FileHandle input;
  EXPECT_EQ(FileOpenForReading(name.c_str(), &input), 0u);
  const Picture picture = ReadPicture(input, palette, nullptr);
  EXPECT_EQ(FileClose(input), 0u);
  std::string rows;
  for (uint32_t y = 0; y < picture.height; ++y)
    rows.append((const char*)picture.rows + y * picture.stride, picture.width);
  ReleaseBlock(picture.block);
  return rows;
}

// An image, whose indices are `kind` (below 256), any index (256) or one of four (257), at random.
struct Image {
  uint32_t left, top, width, height, kind, delay, disposal;
  int32_t transparent;
};

// The data's LZW codes through the readers' decoder: `size` indices, then the end code in the last byte.
std::string Decode(const std::string& data, uint32_t size) {
  std::string out(size + 1, '\xAA');
  static LzwEntry table[4096];
  uint64_t bit = 0;
  const LzwResult result = DecodeLzw(table, (uint8_t*)out.data(), size + 1, 8, 0, [&](uint32_t width) {
    uint32_t code = 0;
    for (uint32_t at = 0; at < width; ++at, ++bit)
      if (bit / 8 < data.size() && uint8_t(data[bit / 8]) >> bit % 8 & 1) code |= 1u << at;
    return code;
  });
  EXPECT_EQ(result, kLzwEnd);
  EXPECT_EQ((bit + 7) / 8, data.size());
  return out.substr(0, size);
}

TEST(GifWriter, ReadBack) {
  const std::vector<Image> several = {{0, 0, 300, 200, 256, 10, 0, -1},
                                      {20, 30, 100, 50, 257, 7, 2, 3},
                                      {0, 0, 300, 200, 0, 65535, 3, 255},
                                      {299, 199, 1, 1, 9, 1, 1, -1},
                                      {5, 5, 0, 4, 0, 0, 0, -1}};
  const std::vector<Image> walk(1200, Image{0, 0, 80, 100, 257, 10, 1, 0});
  const std::string long_comment(600, 'c');
  const struct {
    uint32_t width, height, background, first, count;  // the palette's entries
    int32_t loop;
    const char* comment;
    std::vector<Image> images;
  } cases[] = {
      {1, 1, 0, 0, 0, -1, nullptr, {{0, 0, 1, 1, 7, 0, 0, -1}}},
      {300, 200, 5, 4, 20, 0, kPreviewMarker, several},
      {60, 40, 9, 0, 256, 3, long_comment.c_str(), {{10, 5, 33, 17, 256, 4, 2, 0}}},
      {80, 100, 0, 0, 3, 0, nullptr, walk},
  };
  for (const auto& test : cases) {
    Palette palette = {test.first, test.count, 8, {}, {}};
    for (uint32_t index = 0; index < 256; ++index) palette.colours[index][0] = uint8_t(index);
    const std::string name = kFolder + "read_back.gif";
    std::vector<std::string> indices;  // rows width + 1 apart
    GifOutput output;
    StartGif(name.c_str(), {test.width, test.height, uint8_t(test.background), &palette, test.loop, test.comment},
             &output);
    for (const Image& image : test.images) {
      std::string& rows = indices.emplace_back((image.width + 1) * image.height, char(image.kind));
      for (uint32_t seed = uint32_t(indices.size()); char& index : rows)
        if (image.kind >= 256)
          seed = seed * 1103515245 + 12345, index = char((seed >> 16) % (image.kind == 256 ? 256 : 4));
      WriteGifImage(&output, {image.left, image.top, image.width, image.height, (const uint8_t*)rows.data(),
                              image.width + 1, image.delay, image.disposal, image.transparent});
    }
    FinishGif(&output);

    const std::string gif = Load(name);
    std::string head = "GIF89a" + Little16(test.width) + Little16(test.height) + '\xF7' + char(test.background) + '\0';
    for (uint32_t index = 0; index < 256; ++index)
      head += {char(index >= test.first && index < test.count ? index : 0), 0, 0};
    if (test.loop >= 0) head += "\x21\xFF\x0BNETSCAPE2.0\x03\x01"s + Little16(test.loop) + '\0';
    if (test.comment != nullptr) head += "\x21\xFE";
    for (std::string left = test.comment ? test.comment : ""; !left.empty(); left.erase(0, 255))
      head += char(std::min<size_t>(left.size(), 255)) + left.substr(0, 255);
    if (test.comment != nullptr) head += '\0';
    ASSERT_EQ(gif.substr(0, head.size()), head);
    size_t at = head.size();
    for (size_t number = 0; number < test.images.size(); ++number) {
      const Image& image = test.images[number];
      const std::string start = "\x21\xF9\x04"s + char(image.disposal << 2 | (image.transparent >= 0)) +
                                Little16(image.delay) + char(std::max(image.transparent, 0)) + '\0' + ',' +
                                Little16(image.left) + Little16(image.top) + Little16(image.width) +
                                Little16(image.height) + "\0\x08"s;  // no local table, not interlaced; code size 8
      ASSERT_EQ(gif.substr(at, start.size()), start) << number;
      std::string data;
      for (at += start.size(); gif.at(at) != 0; at += 1 + uint8_t(gif[at]))
        data += gif.substr(at + 1, uint8_t(gif[at]));
      const std::string decoded = Decode(data, image.width * image.height);
      for (uint32_t y = 0; y < image.height; ++y)
        ASSERT_EQ(decoded.substr(y * image.width, image.width),
                  indices[number].substr(y * (image.width + 1), image.width));
      ++at;
    }
    EXPECT_EQ(gif.substr(at), "\x3B");

    // tessera's reader: the first image on the screen of the background, the palette and the transparent index.
    const Image& first = test.images[0];
    std::string screen(test.width * test.height, char(test.background));
    for (uint32_t y = 0; y < first.height; ++y)
      screen.replace((first.top + y) * test.width + first.left, first.width, indices[0], y * (first.width + 1),
                     first.width);
    Palette read;
    EXPECT_TRUE(ReadBack(name, &read) == screen);
    EXPECT_EQ(std::string((const char*)read.colours, 768), head.substr(13, 768));
    EXPECT_EQ(read.clear[first.transparent & 255], first.transparent >= 0);
  }
}

TEST(GifWriter, FailsWithoutLeavingAFile) {
  const Palette palette = {0, 0, 8, {}, {}};
  const uint8_t pixel = 0;
  GifOutput output;
  EXPECT_THROW(StartGif((kFolder + "failing/missing/x.gif").c_str(), {1, 1, 0, &palette, -1, nullptr}, &output),
               FileProblem);
  StartGif((kFolder + "failing/x.gif").c_str(), {1, 1, 0, &palette, -1, nullptr}, &output);
  EXPECT_THROW(WriteGifImage(&output, {0, 0, 1, 1, &pixel, 1, 65536, 0, -1}), FileProblem);
  EXPECT_TRUE(std::filesystem::is_empty(kFolder + "failing"));
}

// A PNG of two rows of three indices, and what is between its PLTE and IDAT.
std::string WritePng(const std::string& name, const PngExtras& extras) {
  const uint8_t raw[] = {0, 0, 1, 2, 0, 3, 0, 1};  // each row after its filter byte
  const Palette palette = {0, 2, 8, {{1, 2, 3}, {4, 5, 6}}, {}};
  WriteIndexedPng(name.c_str(), PackRows(raw, sizeof raw, 3, 2, 3, 9), palette, extras);
  const std::string png = Load(name), plte = "PLTE\1\2\3\4\5\6\0\0\0\0\0\0"s;
  EXPECT_EQ(png.find(plte), 37u);  // after the signature and IHDR
  return png.substr(37 + plte.size() + 4, png.find("IDAT") - 4 - 37 - plte.size() - 4);
}

TEST(PngWriter, Extras) {
  const struct {
    PngExtras extras;
    std::string between;  // chunks with their CRCs
  } cases[] = {
      {{false, nullptr}, ""},
      {{true, nullptr}, "\0\0\0\1tRNS\0\x40\xE6\xD8\x66"s},
      {{false, "x"}, "\0\0\0\x09tEXtComment\0x\xD7\xF4\x74\x08"s},
      {{true, kPreviewMarker}, "\0\0\0\1tRNS\0\x40\xE6\xD8\x66\0\0\0\x17tEXtComment\0tessera preview\xA5\x99\x3A\x7E"s},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(WritePng(kFolder + "extras.png", test.extras), test.between);
    Palette read;
    EXPECT_EQ(ReadBack(kFolder + "extras.png", &read), "\0\1\2\3\0\1"s);  // checks every CRC
    EXPECT_EQ(read.clear[0], test.extras.clear_zero);
    EXPECT_FALSE(read.clear[1]);
  }
}

TEST(PreviewMarker, Told) {
  const std::string probed = kFolder + "probed", other_keyword = "Authors";
  WritePng(kFolder + "marked.png", {true, kPreviewMarker});
  const std::string marked_png = Load(kFolder + "marked.png"), image = ",\0\0\0\0\1\0\1\0\0\x08\2\0\1\0;"s;
  const std::string head = "GIF89a\1\0\1\0\x80\0\0" + std::string(6, 'g'),
                    marked_gif = head + "\x21\xFE\x0Ftessera preview\0"s + image;
  const struct {
    std::string bytes;
    bool marked;
  } cases[] = {
      {marked_png, true},
      {marked_gif, true},
      {head + "\x21\xFE\x08tessera \x07preview\0"s + image, true},
      {head + "\x21\x01\x01x\0\x21\xFE\x0Ftessera preview\0"s + image, true},
      {head + "\x21\xFE\x10tessera previews\0"s + image, false},
      {head + "\x21\xFE\x0Etessera previe\0"s + image, false},
      {head + image + "\x21\xFE\x0Ftessera preview\0"s, false},
      {std::string(marked_png).replace(marked_png.find("Comment"), 7, other_keyword), false},
      {marked_png.substr(0, marked_png.find("preview")), false},
      {marked_gif.substr(0, marked_gif.find("preview")), false},
      {marked_gif.substr(0, 10), false},
      {"tessera preview", false},
      {"", false},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    std::ofstream(probed, std::ios::binary) << cases[row].bytes;
    EXPECT_EQ(FileHasPreviewMarker(probed.c_str()), cases[row].marked) << row;
  }
  EXPECT_FALSE(FileHasPreviewMarker((kFolder + "absent").c_str()));
  EXPECT_FALSE(FileHasPreviewMarker(kFolder.c_str()));
}

}  // namespace
