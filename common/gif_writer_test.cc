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

std::string Folder() {
  static const std::string folder = [] {
    std::filesystem::path path = std::filesystem::path(testing::TempDir()) / "tessera_tools_unit_tests";
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string() + "/";
  }();
  return folder;
}

std::string Load(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

void Save(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

uint32_t Little16(const std::string& bytes, size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; }

// An image's indices: one value (kinds 0 to 255), any index (256), or four
// (257), from a generator seeded by `seed`; rows `width` + 1 apart.
struct Image {
  uint32_t left, top, width, height, kind, delay, disposal;
  int32_t transparent;
};

std::vector<uint8_t> Indices(const Image& image, uint32_t seed) {
  std::vector<uint8_t> indices((image.width + 1) * image.height);
  for (uint8_t& index : indices) {
    seed = seed * 1103515245 + 12345;
    index = static_cast<uint8_t>(image.kind < 256 ? image.kind : (seed >> 16) % (image.kind == 256 ? 256 : 4));
  }
  return indices;
}

// The codes of one image's data, joined from its sub-blocks, decoded by the
// readers' own LZW: exactly `size` indices and then the end code, in the
// last byte.
std::vector<uint8_t> Decode(const std::string& data, uint32_t size) {
  std::vector<uint8_t> out(size + 1, 0xAA);
  std::vector<LzwEntry> table(4096);
  uint64_t bit = 0;
  const LzwResult result = DecodeLzw(table.data(), out.data(), size + 1, 8, 0, [&](uint32_t width) {
    uint32_t code = 0;
    for (uint32_t at = 0; at < width; ++at, ++bit)
      if (bit / 8 < data.size() && uint8_t(data[bit / 8]) >> bit % 8 & 1) code |= 1u << at;
    return code;
  });
  EXPECT_EQ(result, kLzwEnd);
  EXPECT_EQ((bit + 7) / 8, data.size());
  out.pop_back();
  return out;
}

struct GifCase {
  const char* name;
  uint32_t width, height, background, first, count;
  int32_t loop;
  const char* comment;
  std::vector<Image> images;
};

TEST(GifWriter, ReadBack) {
  std::vector<Image> walk(1200, Image{0, 0, 80, 100, 257, 10, 1, 0});
  const std::string long_comment(600, 'c');
  const GifCase cases[] = {
      {"one pixel", 1, 1, 0, 0, 0, -1, nullptr, {{0, 0, 1, 1, 7, 0, 0, -1}}},
      {"several, flat and random",
       300,
       200,
       5,
       4,
       20,
       0,
       kPreviewMarker,
       {{0, 0, 300, 200, 256, 10, 0, -1},
        {20, 30, 100, 50, 257, 7, 2, 3},
        {0, 0, 300, 200, 0, 65535, 3, 255},
        {299, 199, 1, 1, 9, 1, 1, -1},
        {5, 5, 0, 4, 0, 0, 0, -1}}},
      {"first image inside the screen", 60, 40, 9, 0, 256, 3, long_comment.c_str(), {{10, 5, 33, 17, 256, 4, 2, 0}}},
      {"1,200 frames of 80 x 100", 80, 100, 0, 0, 3, 0, nullptr, walk},
  };
  for (const GifCase& test : cases) {
    SCOPED_TRACE(test.name);
    Palette palette = {test.first, test.count, 8, {}, {}};
    for (uint32_t index = 0; index < 256; ++index)
      palette.colours[index][0] = uint8_t(index), palette.colours[index][2] = 1;
    const std::string name = Folder() + "read_back.gif";
    std::vector<std::vector<uint8_t>> indices;
    GifOutput output;
    StartGif(name.c_str(), {test.width, test.height, uint8_t(test.background), &palette, test.loop, test.comment},
             &output);
    for (const Image& image : test.images) {
      indices.push_back(Indices(image, uint32_t(indices.size())));
      WriteGifImage(&output, {image.left, image.top, image.width, image.height, indices.back().data(), image.width + 1,
                              image.delay, image.disposal, image.transparent});
    }
    FinishGif(&output);

    const std::string gif = Load(name);
    std::string head = "GIF89a" + std::string{char(test.width),
                                              char(test.width >> 8),
                                              char(test.height),
                                              char(test.height >> 8),
                                              '\xF7',
                                              char(test.background),
                                              0};
    for (uint32_t index = 0; index < 256; ++index)
      head += index >= test.first && index < test.count ? std::string{char(index), 0, 1} : std::string(3, 0);
    if (test.loop >= 0) head += "\x21\xFF\x0BNETSCAPE2.0\x03\x01"s + char(test.loop) + char(test.loop >> 8) + '\0';
    if (test.comment != nullptr) {
      head += "\x21\xFE";
      for (std::string left = test.comment; !left.empty(); left.erase(0, 255))
        head += char(std::min<size_t>(left.size(), 255)) + left.substr(0, 255);
      head += '\0';
    }
    ASSERT_EQ(gif.substr(0, head.size()), head);
    size_t at = head.size();
    for (size_t number = 0; number < test.images.size(); ++number) {
      const Image& image = test.images[number];
      const std::string control = {'\x21',
                                   '\xF9',
                                   4,
                                   char(image.disposal << 2 | (image.transparent >= 0)),
                                   char(image.delay),
                                   char(image.delay >> 8),
                                   char(std::max(image.transparent, 0)),
                                   0};
      ASSERT_EQ(gif.substr(at, 8), control) << number;
      ASSERT_EQ(gif[at + 8], ',');
      EXPECT_EQ(Little16(gif, at + 9), image.left);
      EXPECT_EQ(Little16(gif, at + 11), image.top);
      EXPECT_EQ(Little16(gif, at + 13), image.width);
      EXPECT_EQ(Little16(gif, at + 15), image.height);
      ASSERT_EQ(gif.substr(at + 17, 2), "\x00\x08"s);  // no local table, not interlaced; code size 8
      std::string data;
      for (at += 19; gif.at(at) != 0; at += 1 + uint8_t(gif[at])) data += gif.substr(at + 1, uint8_t(gif[at]));
      ++at;
      const std::vector<uint8_t> decoded = Decode(data, image.width * image.height);
      for (uint32_t y = 0; y < image.height; ++y)
        ASSERT_TRUE(std::equal(decoded.begin() + y * image.width, decoded.begin() + (y + 1) * image.width,
                               indices[number].begin() + y * (image.width + 1)))
            << number << " row " << y;
    }
    EXPECT_EQ(gif.substr(at), "\x3B");

    // tessera's reader: the first image on the screen, the palette and the transparent index.
    FileHandle input;
    ASSERT_EQ(FileOpenForReading(name.c_str(), &input), 0u);
    Palette read;
    const Picture picture = ReadPicture(input, &read, nullptr);
    EXPECT_EQ(FileClose(input), 0u);
    const Image& first = test.images[0];
    EXPECT_EQ(read.count, 256u);
    for (uint32_t index = 0; index < 256; ++index)
      ASSERT_EQ(read.colours[index][0], index >= test.first && index < test.count ? index : 0) << index;
    EXPECT_EQ(read.clear[first.transparent & 255], first.transparent >= 0);
    for (uint32_t y = 0; y < test.height; ++y)
      for (uint32_t x = 0; x < test.width; ++x) {
        const bool inside = x - first.left < first.width && y - first.top < first.height;
        ASSERT_EQ(picture.rows[y * picture.stride + x],
                  inside ? indices[0][(y - first.top) * (first.width + 1) + x - first.left] : test.background)
            << x << "," << y;
      }
    ReleaseBlock(picture.block);
  }
}

// A small marked or unmarked PNG, and its chunks' types and data.
std::string WritePng(const std::string& name, const PngExtras& extras) {
  const uint8_t raw[] = {0, 0, 1, 2, 0, 3, 0, 1};  // two rows of three indices, each after filter byte 0
  const Palette palette = {0, 2, 8, {{1, 2, 3}, {4, 5, 6}}, {}};
  WriteIndexedPng(name.c_str(), PackRows(raw, sizeof raw, 3, 2, 3, 9), palette, extras);
  const std::string png = Load(name);
  std::string chunks;
  for (size_t at = 8; at + 8 <= png.size(); at += 12 + (uint8_t(png[at + 2]) << 8 | uint8_t(png[at + 3])))
    chunks += png.substr(at + 4, 4) + "[" + png.substr(at + 8, uint8_t(png[at + 2]) << 8 | uint8_t(png[at + 3])) + "]";
  return chunks;
}

TEST(PngWriter, Extras) {
  const struct {
    PngExtras extras;
    std::string between;  // the chunks between PLTE and IDAT
  } cases[] = {
      {{false, nullptr}, ""},
      {{true, nullptr}, "tRNS[\0]"s},
      {{false, "x"}, "tEXt[Comment\0x]"s},
      {{true, kPreviewMarker}, "tRNS[\0]tEXt[Comment\0tessera preview]"s},
  };
  for (const auto& test : cases) {
    const std::string name = Folder() + "extras.png", chunks = WritePng(name, test.extras);
    const size_t plte = chunks.find("PLTE[\1\2\3\4\5\6\0\0\0\0\0\0]"s), idat = chunks.find("IDAT[");
    ASSERT_EQ(chunks.substr(0, 19), "IHDR[\0\0\0\3\0\0\0\2\b\3\0\0\0]"s);
    ASSERT_EQ(plte, 19u);
    EXPECT_EQ(chunks.substr(plte + 18, idat - plte - 18), test.between);
    EXPECT_EQ(chunks.substr(chunks.size() - 6), "IEND[]");
    FileHandle input;
    ASSERT_EQ(FileOpenForReading(name.c_str(), &input), 0u);
    Palette read;
    const Picture picture = ReadPicture(input, &read, nullptr);  // checks every CRC
    EXPECT_EQ(FileClose(input), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(picture.rows), 3), "\0\1\2"s);
    EXPECT_EQ(read.clear[0], test.extras.clear_zero);
    EXPECT_FALSE(read.clear[1]);
    ReleaseBlock(picture.block);
  }
}

TEST(PreviewMarker, Told) {
  const std::string folder = Folder(), png = folder + "marked.png", gif = folder + "marked.gif";
  WritePng(png, {true, kPreviewMarker});
  const Palette palette = {0, 0, 8, {}, {}};
  const uint8_t pixel = 0;
  GifOutput output;
  StartGif(gif.c_str(), {1, 1, 0, &palette, 0, kPreviewMarker}, &output);
  WriteGifImage(&output, {0, 0, 1, 1, &pixel, 1, 0, 0, 0});
  FinishGif(&output);
  const std::string marked_png = Load(png), marked_gif = Load(gif);
  const std::string gif_start = "GIF89a\1\0\1\0\0\0\0"s, image = ",\0\0\0\0\1\0\1\0\0\b\2\0\1\0;"s;
  const struct {
    std::string bytes;  // none: the file itself
    bool marked;
  } cases[] = {
      {marked_png, true},
      {marked_gif, true},
      {gif_start + "\x21\xFE\x08tessera \x07preview\0"s + image, true},
      {gif_start + "\x21\x01\x01x\0\x21\xFE\x0Ftessera preview\0"s + image, true},
      {gif_start + "\x21\xFE\x10tessera previews\0"s + image, false},
      {gif_start + "\x21\xFE\x0Etessera previe\0"s + image, false},
      {gif_start + image + "\x21\xFE\x0Ftessera preview\0"s, false},
      {std::string(marked_png).replace(marked_png.find("Comment"), 7, "Authors"), false},
      {marked_png.substr(0, marked_png.find("preview")), false},
      {marked_gif.substr(0, marked_gif.find("preview")), false},
      {marked_gif.substr(0, 800), false},
      {"\x89PNG\r\n\x1A\n"s + WritePng(folder + "plain.png", {true, "tessera preview!"}), false},
      {Load(folder + "plain.png"), false},
      {"tessera preview", false},
      {"", false},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    Save(folder + "probed", cases[row].bytes);
    EXPECT_EQ(FileHasPreviewMarker((folder + "probed").c_str()), cases[row].marked) << row;
  }
  EXPECT_FALSE(FileHasPreviewMarker((folder + "absent").c_str()));
  EXPECT_FALSE(FileHasPreviewMarker(folder.c_str()));
}

TEST(GifWriter, FailsWithoutLeavingAFile) {
  const std::string folder = Folder() + "failing/";
  std::filesystem::create_directories(folder);
  const Palette palette = {0, 0, 8, {}, {}};
  GifOutput output;
  EXPECT_THROW(StartGif((folder + "missing/x.gif").c_str(), {1, 1, 0, &palette, -1, nullptr}, &output), FileProblem);
  StartGif((folder + "x.gif").c_str(), {1, 1, 0, &palette, -1, nullptr}, &output);
  const uint8_t pixel = 0;
  EXPECT_THROW(WriteGifImage(&output, {0, 0, 1, 1, &pixel, 1, 65536, 0, -1}), FileProblem);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
