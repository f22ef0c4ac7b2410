// Indexed PNG pictures, the palette pictures that art tools save today. The
// file, after its 8-byte signature 89 50 4E 47 0D 0A 1A 0A:
//
//   chunk      length:4 type:4 data:length crc:4, big-endian; crc is the
//              CRC-32 of type and data
//   IHDR       the first chunk, 13 bytes: width:4 height:4 depth:1 colour:1
//              compression:1 filter:1 interlace:1
//   IDAT ...   a run of chunks whose data, joined, is one zlib stream
//   image      the stream inflates to the rows of each pass in turn, a pass
//              with no columns or no rows having none: row = filter:1 bytes,
//              the pixels packed `depth` bits each, leftmost in the most
//              significant bits
//   filters    the row's bytes are differences against a prediction from the
//              byte to the left (one byte back, 0 at the row's start), the
//              byte above (0 in a pass's first row) and the one above-left:
//              0 none, 1 left, 2 above, 3 (left + above) / 2, 4 Paeth
//   passes     interlace 0: one pass, every pixel. Interlace 1 (Adam7): seven
//              passes taking every dx-th column from x0 and every dy-th row
//              from y0, as kAdam7 lists them
//
// What converts: colour type 3 (palette indices), depth 1, 2, 4 or 8,
// compression and filter method 0, interlace 0 or 1, width and height 1 to
// 65535. Before the first IDAT, PLTE and the ancillary chunks (first letter
// lower case) are passed over: a frame holds indices, so the palette is not
// read, as a bitmap's colour table is not; only tessera-palette, which asks
// for it, takes PLTE's length / 3 entries, and tRNS's entries of alpha 0. Any
// other critical chunk is one the program doesn't understand. Once the IDAT
// run has begun, nothing but IDAT may come until the picture is complete.
//
// Full colours, which only tessera-palette reads (ReadPngColours): colour
// types 0 (grey), 2 (red, green, blue), 4 (grey, alpha) and 6 (red, green,
// blue, alpha) at 8 or 16 bits a sample, of which the high byte is taken,
// through the same chunks, passes and filters (a filter's left neighbour is
// then a whole pixel back). tRNS gives the grey or colour that is
// transparent in types 0 and 2; alpha 0 is transparent.
//
// Every chunk is read whole and its CRC checked before any of it is used.
// Nothing after the chunk that completes the picture is read: not the rest of
// the zlib stream, its checksum, later chunks or IEND.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "convert/decode.h"
#include "convert/readers.h"
#include "convert/zlib_arena.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

struct Pass {
  uint32_t x0, y0, dx, dy;
};
constexpr Pass kWhole[1] = {{0, 0, 1, 1}};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The pixels a pass takes of `size` columns or rows, from `first` on, every `step`-th.
uint32_t PassCount(uint32_t size, uint32_t first, uint32_t step) {
  return size > first ? (size - first + step - 1) / step : 0;
}

bool IsType(const uint8_t type[4], const char* name) { return std::memcmp(type, name, 4) == 0; }

// Where the reading stands: the next chunk's position, and the block that
// holds the last chunk read, data and CRC, grown to the largest one yet.
// The next chunk's head comes in the same read as the chunk before it, when
// the file holds one.
struct Chunks {
  FileHandle input;
  uint64_t file_size;
  uint64_t position;
  uint8_t* data;
  uint64_t capacity;
  bool head_held;
  uint8_t next_head[8];
};

// Reads the next chunk whole into `chunks->data`, checks its CRC and returns
// its length; its type goes to `type`.
uint32_t ReadChunk(Chunks* chunks, uint8_t type[4]) {
  uint8_t head[8];
  uint32_t done;
  if (chunks->head_held) {
    std::memcpy(head, chunks->next_head, sizeof head);
    chunks->head_held = false;
  } else {
    if (uint32_t error = FileRead(chunks->input, head, sizeof head, &done)) StopWithCode(error);
    if (done != sizeof head) StopWithCode(kShortRead);
  }
  const uint32_t length = LoadBig32(head);
  std::memcpy(type, head + 4, 4);
  // A length the rest of the file can't hold: the file is cut short.
  if (chunks->file_size < chunks->position || chunks->file_size - chunks->position < uint64_t{length} + 12) {
    StopWithCode(kShortRead);
  }
  const uint64_t size = uint64_t{length} + 4;
  const uint64_t ahead = chunks->file_size - chunks->position - 8 - size >= 8 ? 8 : 0;
  if (size + ahead >= kBlockLimit) StopWithCode(kOutOfMemory);
  if (size + ahead > chunks->capacity) {
    ReleaseBlock(chunks->data);
    // Room for the chunks to come too, but never more than the file holds:
    // a small picture's block is small.
    chunks->capacity = std::max<uint64_t>(size + ahead, std::min<uint64_t>(64 << 10, chunks->file_size));
    chunks->data = static_cast<uint8_t*>(AllocateBlock(chunks->capacity));
    if (chunks->data == nullptr) StopWithCode(kOutOfMemory);
  }
  if (uint32_t error = FileRead(chunks->input, chunks->data, static_cast<uint32_t>(size + ahead), &done)) {
    StopWithCode(error);
  }
  if (done != size + ahead) StopWithCode(kShortRead);
  if (ahead > 0) {
    std::memcpy(chunks->next_head, chunks->data + size, sizeof chunks->next_head);
    chunks->head_held = true;
  }
  uLong crc = crc32(crc32(0, type, 4), chunks->data, length);
  if (crc != LoadBig32(chunks->data + length)) StopWithCode(kShortRead);
  chunks->position += size + 8;
  return length;
}

// Inflates exactly `size` bytes into `out`. The next IDAT chunk is read only
// when the stream can give nothing more without it.
void Inflate(z_stream* stream, Chunks* chunks, uint8_t* out, uint32_t size) {
  stream->next_out = out;
  stream->avail_out = size;
  while (stream->avail_out > 0) {
    int result = inflate(stream, Z_NO_FLUSH);
    // Once the bytes are all there, what zlib finds beyond them (it reads on
    // through a block's end and the stream's checksum) doesn't count.
    if (stream->avail_out == 0) break;
    if (result == Z_BUF_ERROR && stream->avail_in == 0) {
      uint8_t type[4];
      uint32_t length = ReadChunk(chunks, type);
      if (!IsType(type, "IDAT")) StopWithCode(kShortRead);  // the image data ends before the picture does
      stream->next_in = chunks->data;
      stream->avail_in = length;
      continue;
    }
    if (result == Z_MEM_ERROR) StopWithCode(kOutOfMemory);
    // Damaged data, a preset dictionary, or a stream that ends too soon.
    if (result != Z_OK) StopWithCode(kShortRead);
  }
}

}  // namespace

void UnfilterPngRow(uint8_t filter, uint8_t* row, const uint8_t* prior, uint32_t size, uint32_t step) {
  // The first pixel has no left neighbour and no corner: they count as 0.
  const uint32_t head = std::min(step, size);
  switch (filter) {
    case 1:
      for (uint32_t x = step; x < size; ++x) row[x] = static_cast<uint8_t>(row[x] + row[x - step]);
      break;
    case 2:
      for (uint32_t x = 0; x < size; ++x) row[x] = static_cast<uint8_t>(row[x] + prior[x]);
      break;
    case 3:
      for (uint32_t x = 0; x < head; ++x) row[x] = static_cast<uint8_t>(row[x] + prior[x] / 2);
      for (uint32_t x = step; x < size; ++x) row[x] = static_cast<uint8_t>(row[x] + (row[x - step] + prior[x]) / 2);
      break;
    case 4:
      for (uint32_t x = 0; x < head; ++x) row[x] = static_cast<uint8_t>(row[x] + prior[x]);  // Paeth picks above
      for (uint32_t x = step; x < size; ++x) {
        const int left = row[x - step], above = prior[x], corner = prior[x - step];
        const int guess = left + above - corner;
        const int to_left = std::abs(guess - left), to_above = std::abs(guess - above);
        const int to_corner = std::abs(guess - corner);
        const int chosen = to_left <= to_above && to_left <= to_corner ? left : to_above <= to_corner ? above : corner;
        row[x] = static_cast<uint8_t>(row[x] + chosen);
      }
      break;
  }
}

namespace {

// What IHDR says, and where the reading stands.
struct PngImage {
  Chunks chunks;
  uint32_t width, height, depth, colour_type;
  bool interlaced;
};

// Reads IHDR; stops with 201 for a size or method neither reader takes.
void ReadHeader(FileHandle input, PngImage* image) {
  image->chunks = {input, 0, 8, nullptr, 0, false, {}};
  if (uint32_t error = FileSize(input, &image->chunks.file_size)) StopWithCode(error);
  if (uint32_t error = FileSeek(input, 8)) StopWithCode(error);
  uint8_t type[4];
  const uint32_t length = ReadChunk(&image->chunks, type);
  if (!IsType(type, "IHDR") || length != 13) StopWithCode(kUnsupportedBitmap);
  const uint8_t* header = image->chunks.data;
  image->width = LoadBig32(header), image->height = LoadBig32(header + 4);
  image->depth = header[8], image->colour_type = header[9], image->interlaced = header[12] == 1;
  if (image->width < 1 || image->width > 65535 || image->height < 1 || image->height > 65535 || header[10] != 0 ||
      header[11] != 0 || header[12] > 1) {
    StopWithCode(kUnsupportedBitmap);
  }
}

// Where the rows go: a picture `width` pixels wide, of indices `depth` bits
// each, or of colours of `channels` samples of `depth` bits, to which `key`
// (a colour tRNS makes transparent, as 16-bit values) applies when set.
struct Target {
  uint8_t* picture;
  uint32_t width, depth, channels;
  bool keyed;
  uint32_t key[3];
};

// Puts an unfiltered row of a pass, `columns` pixels, into the picture as
// row `y`.
using TakeRow = void (*)(const Target& target, const uint8_t* row, uint64_t y, const Pass& pass, uint32_t columns);

void TakeIndices(const Target& target, const uint8_t* row, uint64_t y, const Pass& pass, uint32_t columns) {
  ExpandRow(row, target.depth, columns, target.picture + y * target.width + pass.x0, pass.dx);
}

// Grey (1 channel), grey and alpha (2), red, green and blue (3), and those and
// alpha (4), 8 or 16 bits each, of which the high byte is taken.
void TakeColours(const Target& target, const uint8_t* row, uint64_t y, const Pass& pass, uint32_t columns) {
  const uint32_t channels = target.channels, sample = target.depth / 8, step = channels * sample;
  uint8_t* pixel = target.picture + (y * target.width + pass.x0) * 4;
  for (uint32_t x = 0; x < columns; ++x, row += step, pixel += 4 * pass.dx) {
    uint32_t values[4];
    for (uint32_t k = 0; k < channels; ++k) values[k] = sample == 2 ? row[2 * k] << 8 | row[2 * k + 1] : row[k];
    const bool grey = channels <= 2;
    pixel[0] = row[0], pixel[1] = row[grey ? 0 : sample], pixel[2] = row[grey ? 0 : 2 * sample];
    pixel[3] = (channels == 2 || channels == 4) && values[channels - 1] == 0 ? 0 : 255;
    if (target.keyed && values[0] == target.key[0] &&
        (grey || (values[1] == target.key[1] && values[2] == target.key[2]))) {
      pixel[3] = 0;
    }
  }
}

// Reads the chunks up to the first IDAT and inflates the picture from it,
// `bits` a pixel, into a block of `pixel_size` bytes a pixel, giving each row
// to `take`. Ancillary chunks and PLTE are passed over, but for an indexed
// picture's `palette` (PLTE, and tRNS's entries of alpha 0) and a grey or
// colour picture's transparent colour (tRNS, into `target->key`).
uint8_t* DecodeImage(PngImage* image, uint32_t bits, uint32_t pixel_size, Palette* palette, Target* target,
                     TakeRow take) {
  const uint32_t width = image->width, height = image->height;
  const Pass* passes = image->interlaced ? kAdam7 : kWhole;
  const int pass_count = image->interlaced ? 7 : 1;
  uint64_t inflated_size = 0;
  uint32_t widest_row = 0;  // in bytes, without the filter byte
  for (int p = 0; p < pass_count; ++p) {
    uint32_t columns = PassCount(width, passes[p].x0, passes[p].dx),
             rows = PassCount(height, passes[p].y0, passes[p].dy);
    if (columns == 0 || rows == 0) continue;
    uint32_t row_size = (columns * bits + 7) / 8;
    inflated_size += uint64_t{rows} * (1 + row_size);
    widest_row = std::max(widest_row, row_size);
  }
  const uint64_t picture_size = uint64_t{width} * height * pixel_size;
  if (std::max(inflated_size, picture_size) >= kBlockLimit) StopWithCode(kOutOfMemory);

  Chunks* chunks = &image->chunks;
  const bool indexed = image->colour_type == 3;
  uint8_t type[4];
  uint32_t length;
  for (;;) {
    length = ReadChunk(chunks, type);
    if (IsType(type, "IDAT")) break;
    if (IsType(type, "IEND")) StopWithCode(kShortRead);  // an image without its data
    if (palette != nullptr && indexed && IsType(type, "PLTE")) {
      palette->count = std::min(length / 3, 256u);
      std::memcpy(palette->colours, chunks->data, palette->count * 3);
    }
    if (palette != nullptr && indexed && IsType(type, "tRNS")) {
      for (uint32_t index = 0; index < std::min(length, 256u); ++index)
        palette->clear[index] = chunks->data[index] == 0;
    }
    const uint32_t key_size = image->colour_type == 0 ? 2 : 6;
    if (!indexed && IsType(type, "tRNS") && length >= key_size) {
      for (uint32_t k = 0; k < key_size / 2; ++k) target->key[k] = LoadBig16(chunks->data + 2 * k);
      target->keyed = true;
    }
    if ((type[0] & 0x20) == 0 && !IsType(type, "PLTE")) StopWithCode(kUnsupportedBitmap);
  }

  // The picture, then the row being read and the one above it, each with its
  // filter byte: allotted once the image data has begun. The system commits
  // the picture's pages as the rows are written into them.
  uint8_t* picture = static_cast<uint8_t*>(AllocateBlock(picture_size + 2 * (uint64_t{widest_row} + 1)));
  if (picture == nullptr) StopWithCode(kOutOfMemory);
  target->picture = picture;
  uint8_t* row = picture + picture_size;
  uint8_t* prior = row + widest_row + 1;

  z_stream stream;
  if (!StartArenaInflate(&stream)) StopWithCode(kOutOfMemory);
  stream.next_in = chunks->data;
  stream.avail_in = length;

  const uint32_t step = std::max(bits / 8, 1u);  // the bytes a pixel the filters look back
  for (int p = 0; p < pass_count; ++p) {
    const Pass& pass = passes[p];
    uint32_t columns = PassCount(width, pass.x0, pass.dx), rows = PassCount(height, pass.y0, pass.dy);
    if (columns == 0 || rows == 0) continue;
    uint32_t row_size = (columns * bits + 7) / 8;
    std::memset(prior, 0, row_size + 1);
    for (uint32_t r = 0; r < rows; ++r) {
      Inflate(&stream, chunks, row, row_size + 1);
      if (row[0] > 4) StopWithCode(kShortRead);  // no such filter: the data is damaged
      UnfilterPngRow(row[0], row + 1, prior + 1, row_size, step);
      take(*target, row + 1, pass.y0 + uint64_t{r} * pass.dy, pass, columns);
      std::swap(row, prior);
    }
  }
  // The stream's memory is the arena's, and the rest of the stream is never read.
  ReleaseBlock(chunks->data);
  return picture;
}

}  // namespace

Picture ReadPng(FileHandle input, const uint8_t*, uint32_t, Palette* palette) {
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  PngImage image;
  ReadHeader(input, &image);
  const uint32_t bits = image.depth;
  if ((bits != 1 && bits != 2 && bits != 4 && bits != 8) || image.colour_type != 3) StopWithCode(kUnsupportedBitmap);
  Target target = {nullptr, image.width, bits, 1, false, {}};
  uint8_t* picture = DecodeImage(&image, bits, 1, palette, &target, TakeIndices);
  return {image.width, image.height, picture, image.width, true, picture};
}

Picture ReadPngColours(FileHandle input, const uint8_t*, uint32_t, Palette* palette) {
  if (palette != nullptr) *palette = {0, 0, 8, {}, {}};
  PngImage image;
  ReadHeader(input, &image);
  const uint32_t type = image.colour_type, depth = image.depth;
  if ((depth != 8 && depth != 16) || (type != 0 && type != 2 && type != 4 && type != 6)) {
    StopWithCode(kUnreadColours);
  }
  const uint32_t channels = type == 0 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4;
  Target target = {nullptr, image.width, depth, channels, false, {}};
  uint8_t* picture = DecodeImage(&image, channels * depth, 4, nullptr, &target, TakeColours);
  return {image.width, image.height, picture, image.width * 4, true, picture, true};
}
