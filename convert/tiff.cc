// Palette TIFF pictures, as GIMP, ImageMagick, libvips, netpbm and libtiff's
// own tools write them. The file:
//
//   header       "II" 42:2 directory:4, every number after it little-endian,
//                or "MM" 42:2 directory:4, big-endian; 43 in place of 42 is
//                BigTIFF
//   directory    count:2, count entries of tag:2 type:2 values:4 field:4,
//                then the next directory's position:4
//   values       of type 1 (BYTE, 1 byte), 3 (SHORT, 2) or 4 (LONG, 4): in
//                the field when they fit in its 4 bytes, else at the position
//                the field holds
//   tags         256 ImageWidth, 257 ImageLength, 258 BitsPerSample (1),
//                259 Compression (1), 262 Photometric, 266 FillOrder (1),
//                273 StripOffsets, 277 SamplesPerPixel (1), 278 RowsPerStrip
//                (every row), 279 StripByteCounts, 284 PlanarConfiguration (1),
//                317 Predictor (1), 320 ColorMap, 322 TileWidth, 323
//                TileLength, 324 TileOffsets, 325 TileByteCounts, 338
//                ExtraSamples, 339 SampleFormat (1); without the tag, the
//                value in brackets
//   pieces       strips of RowsPerStrip rows, top to bottom, at the offsets
//                and of the byte counts given; or, with TileWidth, tiles of
//                TileWidth x TileLength pixels, left to right, then top to
//                bottom, those past the picture's edge cut there
//   planes       PlanarConfiguration 1: the samples of a pixel side by side,
//                one plane of pieces; 2: a plane of pieces for each sample, in
//                turn
//   rows         ceil(pixels x bits x samples in the plane / 8) bytes, the
//                top row first; the pixels packed `bits` each, leftmost in
//                the most significant bits
//   compression  each piece on its own. 1: the rows as they are. 32773
//                PackBits: a byte n of 0 to 127 and the n + 1 bytes after it;
//                129 to 255 and one byte repeated 257 - n times; 128 alone.
//                5 LZW: codes of 9 to 12 bits, most significant bit first,
//                the roots the 256 byte values, widening one code early
//                (lzw.h). 8 and 32946: a zlib stream
//   predictor    2: each byte of a row is stored as its difference, mod 256,
//                from the byte one pixel before it
//
// What converts: the first directory only (later pages and thumbnails are
// never read) of a palette picture: Photometric 3, SamplesPerPixel 1, or n
// with n - 1 ExtraSamples, whose first sample is the index; every
// BitsPerSample the same, 1, 2, 4 or 8; SampleFormat 1; Compression 1, 5, 8,
// 32946 or 32773; PlanarConfiguration 1 or 2; FillOrder 1; with LZW and
// deflate, Predictor 1, or 2 with 8 bits (the others ignore it). Of a tag
// given twice the first counts, and a tag of no values is as if absent;
// uncompressed pieces without byte counts take the size their rows need.
// Orientation is not applied. The ColorMap, 3 x 2^bits SHORTs (the reds,
// then the greens, then the blues), is passed over: a frame holds indices,
// so the palette is not read. Only tessera-palette, which asks for it, reads
// it. Of each piece, only the bytes its rows in the picture need are read.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/decode.h"
#include "convert/lzw.h"
#include "convert/readers.h"
#include "convert/zlib_arena.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

struct Tiff {
  FileHandle input;
  uint64_t file_size;
  bool big_endian;
};

uint32_t Load16(const Tiff& tiff, const uint8_t* bytes) {
  return tiff.big_endian ? LoadBig16(bytes) : LoadLittle16(bytes);
}
uint32_t Load32(const Tiff& tiff, const uint8_t* bytes) {
  return tiff.big_endian ? LoadBig32(bytes) : LoadLittle32(bytes);
}

void ReadAt(const Tiff& tiff, uint64_t position, uint8_t* out, uint32_t size) {
  uint32_t done;
  if (uint32_t error = FileSeek(tiff.input, static_cast<int32_t>(position))) StopWithCode(error);
  if (uint32_t error = FileRead(tiff.input, out, size, &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);
}

// The tags read, in this order in `Tag`s.
enum TagName {
  kImageWidth,
  kImageLength,
  kBitsPerSample,
  kCompression,
  kPhotometric,
  kFillOrder,
  kStripOffsets,
  kSamplesPerPixel,
  kRowsPerStrip,
  kStripByteCounts,
  kPlanarConfiguration,
  kPredictor,
  kColorMap,
  kTileWidth,
  kTileLength,
  kTileOffsets,
  kTileByteCounts,
  kExtraSamples,
  kSampleFormat,
  kTagNames
};
constexpr uint16_t kTagNumbers[kTagNames] = {256, 257, 258, 259, 262, 266, 273, 277, 278, 279,
                                             284, 317, 320, 322, 323, 324, 325, 338, 339};

// A tag's values as its entry gives them; no values when the tag is absent.
struct Tag {
  uint32_t type;
  uint32_t count;
  uint8_t field[4];
};

uint32_t TypeSize(uint32_t type) { return type == 3 ? 2 : type == 4 ? 4 : 1; }

// The values of a tag in use, read from the file a window at a time.
struct Values {
  const Tiff* tiff;
  Tag tag;
  bool in_field;
  uint64_t position;  // of the values in the file, when they are not in the field
  uint32_t first, held;
  uint8_t window[1024];
};

// Starts the reading of a tag's values, after checking their type and that
// they lie in the file.
void StartValues(Values* values, const Tiff& tiff, const Tag& tag) {
  if (tag.type != 1 && tag.type != 3 && tag.type != 4) StopWithCode(kShortRead);  // not a number of a size read
  values->tiff = &tiff;
  values->tag = tag;
  values->position = 0;
  values->first = values->held = 0;
  const uint64_t size = uint64_t{tag.count} * TypeSize(tag.type);
  values->in_field = size <= 4;
  if (values->in_field) return;
  values->position = Load32(tiff, tag.field);
  if (values->position > tiff.file_size || tiff.file_size - values->position < size) StopWithCode(kShortRead);
}

uint32_t ValueAt(Values* values, uint32_t index) {
  const uint32_t size = TypeSize(values->tag.type);
  const uint8_t* bytes;
  if (values->in_field) {
    bytes = values->tag.field + index * size;
  } else {
    if (index - values->first >= values->held) {
      values->first = index;
      values->held = std::min<uint32_t>(values->tag.count - index, sizeof values->window / size);
      ReadAt(*values->tiff, values->position + uint64_t{index} * size, values->window, values->held * size);
    }
    bytes = values->window + (index - values->first) * size;
  }
  return size == 1 ? bytes[0] : size == 2 ? Load16(*values->tiff, bytes) : Load32(*values->tiff, bytes);
}

// A tag's first value, or `absent` without the tag.
uint32_t FirstValue(const Tiff& tiff, const Tag& tag, uint32_t absent) {
  if (tag.count == 0) return absent;
  Values values;
  StartValues(&values, tiff, tag);
  return ValueAt(&values, 0);
}

// True when the tag's values all equal `wanted` (or there are none).
bool AllValuesAre(const Tiff& tiff, const Tag& tag, uint32_t wanted) {
  if (tag.count == 0) return true;
  Values values;
  StartValues(&values, tiff, tag);
  for (uint32_t k = 0; k < tag.count; ++k) {
    if (ValueAt(&values, k) != wanted) return false;
  }
  return true;
}

// The ColorMap into `palette`: 2^bits entries when the map holds them.
void ReadColorMap(const Tiff& tiff, const Tag& tag, uint32_t bits, Palette* palette) {
  *palette = {0, 0, 8, {}, {}};
  const uint32_t entries = 1u << bits;
  if (tag.count < 3 * entries) return;
  Values values;
  StartValues(&values, tiff, tag);
  for (uint32_t channel = 0; channel < 3; ++channel) {
    for (uint32_t index = 0; index < entries; ++index) {
      palette->colours[index][channel] = static_cast<uint8_t>(ValueAt(&values, channel * entries + index) >> 8);
    }
  }
  palette->count = entries;
}

// A piece's bytes, read through a buffer no further than its byte count.
uint8_t piece_buffer[64 << 10];

struct Piece {
  FileHandle input;
  uint64_t left;  // bytes of the piece not yet in the buffer
  const uint8_t* next;
  const uint8_t* end;
};

bool RefillPiece(Piece* piece) {
  const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(piece->left, sizeof piece_buffer));
  uint32_t done;
  if (uint32_t error = FileRead(piece->input, piece_buffer, size, &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);  // the file has shrunk since its size was taken
  piece->left -= size;
  piece->next = piece_buffer;
  piece->end = piece_buffer + size;
  return size > 0;
}

inline bool NextPieceByte(Piece* piece, uint8_t* byte) {
  if (piece->next == piece->end && !RefillPiece(piece)) return false;
  *byte = *piece->next++;
  return true;
}

void UnpackBits(Piece* piece, uint8_t* out, uint32_t size) {
  for (uint32_t at = 0; at < size;) {
    uint8_t head, value;
    if (!NextPieceByte(piece, &head)) StopWithCode(kShortRead);  // the data ends before the piece does
    if (head < 128) {
      const uint32_t count = std::min<uint32_t>(head + 1u, size - at);
      for (uint32_t k = 0; k < count; ++k) {
        if (!NextPieceByte(piece, out + at + k)) StopWithCode(kShortRead);  // a literal run cut
      }
      at += count;
    } else if (head > 128) {
      if (!NextPieceByte(piece, &value)) StopWithCode(kShortRead);  // a repeat without its byte
      const uint32_t count = std::min<uint32_t>(257u - head, size - at);
      std::memset(out + at, value, count);
      at += count;
    }
  }
}

// The codes' bits read ahead, the next code's highest.
struct CodeBits {
  uint64_t bits;
  uint32_t count;
};

// Reads ahead until the next code of `width` bits is there, and then what
// the buffer already holds, up to 64 bits. The bits go in and out by value,
// so that the decoding loop can keep them in registers.
CodeBits ReadAhead(Piece* piece, CodeBits held, uint32_t width) {
  while (held.count < width) {
    uint8_t byte;
    if (!NextPieceByte(piece, &byte)) StopWithCode(kShortRead);  // the codes end before the piece does
    held.bits = held.bits << 8 | byte;
    held.count += 8;
  }
  for (; held.count <= 56 && piece->next < piece->end; held.count += 8) held.bits = held.bits << 8 | *piece->next++;
  return held;
}

void DecodeTiffLzw(Piece* piece, LzwEntry* table, uint8_t* out, uint32_t size) {
  CodeBits held = {0, 0};
  const LzwResult result = DecodeLzw(table, out, size, 8, 1, [&](uint32_t width) {
    if (held.count < width) held = ReadAhead(piece, held, width);
    held.count -= width;
    return static_cast<uint32_t>(held.bits >> held.count) & ((1u << width) - 1);
  });
  if (result == kLzwEnd) StopWithCode(kShortRead);        // the end code before the piece is complete
  if (result == kLzwUndefined) StopWithCode(kShortRead);  // a code not yet defined
}

void Inflate(z_stream* stream, Piece* piece, uint8_t* out, uint32_t size) {
  if (inflateReset(stream) != Z_OK) StopWithCode(kOutOfMemory);
  stream->next_out = out;
  stream->avail_out = size;
  while (stream->avail_out > 0) {
    if (stream->avail_in == 0) {
      if (piece->next == piece->end && !RefillPiece(piece)) StopWithCode(kShortRead);  // the stream ends too soon
      stream->next_in = const_cast<uint8_t*>(piece->next);
      stream->avail_in = static_cast<uInt>(piece->end - piece->next);
      piece->next = piece->end;
    }
    const int result = inflate(stream, Z_NO_FLUSH);
    if (stream->avail_out == 0) break;
    // Damaged data, a preset dictionary, or the stream's end before the piece's.
    if (result != Z_OK && result != Z_BUF_ERROR) StopWithCode(kShortRead);
  }
  stream->avail_in = 0;
}

// The first sample of each of `count` pixels of `samples` samples of `bits`
// into one byte each.
void TakeIndices(const uint8_t* row, uint32_t bits, uint32_t samples, uint32_t count, uint8_t* out) {
  if (samples == 1) {
    ExpandRow(row, bits, count, out);
  } else if (bits == 8) {
    for (uint32_t x = 0; x < count; ++x) out[x] = row[uint64_t{x} * samples];
  } else {
    for (uint32_t x = 0; x < count; ++x) {
      const uint64_t bit = uint64_t{x} * samples * bits;
      out[x] = static_cast<uint8_t>(row[bit / 8] >> (8 - bits - bit % 8) & ((1u << bits) - 1));
    }
  }
}

// Expands `count` rows of `row_size` bytes, stored from `rows`, into rows of
// `width` indices from there. The last row is expanded first and each row
// from its right end: no byte is overwritten before it has been read.
void ExpandInPlace(uint8_t* rows, uint32_t count, uint64_t row_size, uint32_t bits, uint32_t width) {
  const uint32_t mask = (1u << bits) - 1;
  for (uint32_t r = count; r-- > 0;) {
    const uint8_t* stored = rows + r * row_size;
    uint8_t* out = rows + uint64_t{r} * width;
    for (uint32_t x = width; x-- > 0;) {
      const uint32_t bit = x * bits;
      out[x] = static_cast<uint8_t>(stored[bit / 8] >> (8 - bits - bit % 8) & mask);
    }
  }
}

}  // namespace

Picture ReadTiff(FileHandle input, const uint8_t* start, uint32_t got, Palette* palette) {
  if (got < 8) StopWithCode(kShortRead);
  Tiff tiff = {input, 0, start[0] == 'M'};
  if (Load16(tiff, start + 2) != 42) StopWithCode(kUnsupportedBitmap);  // BigTIFF
  if (uint32_t error = FileSize(input, &tiff.file_size)) StopWithCode(error);

  // The first directory, a window of entries at a time; every tag's first entry with values.
  const uint64_t directory = Load32(tiff, start + 4);
  if (directory > tiff.file_size || tiff.file_size - directory < 2) StopWithCode(kShortRead);
  uint8_t entries[12 * 256];
  ReadAt(tiff, directory, entries, 2);
  const uint32_t entry_count = Load16(tiff, entries);
  if (tiff.file_size - directory - 2 < 12ull * entry_count) StopWithCode(kShortRead);  // the directory is cut
  Tag tags[kTagNames] = {};
  for (uint32_t done = 0; done < entry_count;) {
    const uint32_t count = std::min(entry_count - done, 256u);
    ReadAt(tiff, directory + 2 + 12ull * done, entries, 12 * count);
    for (uint32_t k = 0; k < count; ++k) {
      const uint8_t* entry = entries + 12 * k;
      const uint32_t name =
          static_cast<uint32_t>(std::find(kTagNumbers, kTagNumbers + kTagNames, Load16(tiff, entry)) - kTagNumbers);
      if (name == kTagNames || tags[name].count != 0) continue;
      Tag& tag = tags[name];
      tag = {Load16(tiff, entry + 2), Load32(tiff, entry + 4), {}};
      std::memcpy(tag.field, entry + 8, 4);
    }
    done += count;
  }
  // The field of every tag read holds a position or values that fit in it: a tag of 0 values reads as absent.

  if (tags[kImageWidth].count == 0) StopWithCode(kShortRead);
  if (tags[kImageLength].count == 0) StopWithCode(kShortRead);
  const uint32_t width = FirstValue(tiff, tags[kImageWidth], 0), height = FirstValue(tiff, tags[kImageLength], 0);
  if (width == 0 || width > 65535 || height == 0 || height > 65535) StopWithCode(kUnsupportedBitmap);
  const uint32_t samples = FirstValue(tiff, tags[kSamplesPerPixel], 1);
  const uint32_t bits = FirstValue(tiff, tags[kBitsPerSample], 1);
  const uint32_t compression = FirstValue(tiff, tags[kCompression], 1);
  const uint32_t planar = FirstValue(tiff, tags[kPlanarConfiguration], 1);
  const bool lzw_or_deflate = compression == 5 || compression == 8 || compression == 32946;
  const uint32_t predictor = lzw_or_deflate ? FirstValue(tiff, tags[kPredictor], 1) : 1;
  if (FirstValue(tiff, tags[kPhotometric], 0) != 3 || samples == 0 ||
      (samples > 1 && tags[kExtraSamples].count != samples - 1)) {
    StopWithCode(kUnsupportedBitmap);
  }
  if ((bits != 1 && bits != 2 && bits != 4 && bits != 8) || !AllValuesAre(tiff, tags[kBitsPerSample], bits) ||
      !AllValuesAre(tiff, tags[kSampleFormat], 1)) {
    StopWithCode(kUnsupportedBitmap);
  }
  if ((compression != 1 && !lzw_or_deflate && compression != 32773) || (planar != 1 && planar != 2) ||
      FirstValue(tiff, tags[kFillOrder], 1) != 1 || (predictor != 1 && !(predictor == 2 && bits == 8))) {
    StopWithCode(kUnsupportedBitmap);
  }
  const uint64_t picture_size = uint64_t{width} * height;
  if (picture_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  if (palette != nullptr) ReadColorMap(tiff, tags[kColorMap], bits, palette);

  // The pieces of the first plane, which holds the index.
  const bool tiled = tags[kTileWidth].count > 0;
  const uint32_t piece_width = tiled ? FirstValue(tiff, tags[kTileWidth], 0) : width;
  const uint32_t piece_height = tiled ? FirstValue(tiff, tags[kTileLength], 0)
                                      : std::min(height, FirstValue(tiff, tags[kRowsPerStrip], UINT32_MAX));
  if (piece_height == 0 && !tiled) StopWithCode(kShortRead);            // RowsPerStrip 0
  if (piece_width == 0 || piece_height == 0) StopWithCode(kShortRead);  // a tile side of 0
  const uint64_t across = (width + uint64_t{piece_width} - 1) / piece_width;
  const uint64_t pieces = across * ((height + uint64_t{piece_height} - 1) / piece_height);
  const uint32_t plane_samples = planar == 1 ? samples : 1;
  const uint64_t row_size = (uint64_t{piece_width} * bits * plane_samples + 7) / 8;
  const Tag& offset_tag = tags[tiled ? kTileOffsets : kStripOffsets];
  const Tag& count_tag = tags[tiled ? kTileByteCounts : kStripByteCounts];
  const bool counted = count_tag.count > 0 || compression != 1;
  if (offset_tag.count < pieces * (planar == 1 ? 1 : samples)) StopWithCode(kShortRead);  // too few offsets
  if (counted && count_tag.count < pieces * (planar == 1 ? 1 : samples)) StopWithCode(kShortRead);

  Values offsets, counts;
  StartValues(&offsets, tiff, offset_tag);
  if (counted) StartValues(&counts, tiff, count_tag);
  for (uint32_t p = 0; p < pieces; ++p) {
    const uint64_t rows = std::min<uint64_t>(piece_height, height - p / across * piece_height);
    const uint64_t offset = ValueAt(&offsets, p), needed = rows * row_size;
    const uint64_t size = counted ? ValueAt(&counts, p) : needed;
    if (offset > tiff.file_size || tiff.file_size - offset < size) StopWithCode(kShortRead);  // past the end
    if (compression == 1 && size < needed) StopWithCode(kShortRead);  // fewer bytes than the rows
  }

  // The picture, after it the piece being decoded, and last, with LZW, the
  // table. Strips of indices alone decode straight into the picture, whose
  // rows take no fewer bytes.
  const bool in_place = !tiled && plane_samples == 1;
  const uint64_t piece_size = in_place ? 0 : std::min<uint64_t>(piece_height, height) * row_size;
  if (picture_size + piece_size >= kBlockLimit) StopWithCode(kOutOfMemory);
  const uint64_t table_at = (picture_size + piece_size + 15) / 16 * 16;
  uint8_t* pixels = static_cast<uint8_t*>(AllocateBlock(table_at + (compression == 5 ? kLzwTableSize : 0)));
  if (pixels == nullptr) StopWithCode(kOutOfMemory);
  uint8_t* decoded = pixels + picture_size;
  LzwEntry* table = reinterpret_cast<LzwEntry*>(pixels + table_at);

  z_stream stream = {};
  if (compression == 8 || compression == 32946) {
    if (!StartArenaInflate(&stream)) StopWithCode(kOutOfMemory);
  }
  for (uint32_t p = 0; p < pieces; ++p) {
    const uint32_t x = static_cast<uint32_t>(p % across * piece_width),
                   y = static_cast<uint32_t>(p / across * piece_height);
    const uint32_t rows = std::min(piece_height, height - y), size = static_cast<uint32_t>(rows * row_size);
    uint8_t* out = in_place ? pixels + uint64_t{y} * width : decoded;
    const uint64_t offset = ValueAt(&offsets, p);
    Piece piece = {input, counted ? ValueAt(&counts, p) : size, nullptr, nullptr};
    if (uint32_t error = FileSeek(input, static_cast<int32_t>(offset))) StopWithCode(error);
    if (compression == 1) {
      uint32_t done;
      if (uint32_t error = FileRead(input, out, size, &done)) StopWithCode(error);
      if (done != size) StopWithCode(kShortRead);
    } else if (compression == 32773) {
      UnpackBits(&piece, out, size);
    } else if (compression == 5) {
      DecodeTiffLzw(&piece, table, out, size);
    } else {
      Inflate(&stream, &piece, out, size);
    }
    if (predictor == 2) {
      for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* row = out + r * row_size;
        for (uint64_t k = plane_samples; k < row_size; ++k)
          row[k] = static_cast<uint8_t>(row[k] + row[k - plane_samples]);
      }
    }
    if (in_place) {
      if (bits < 8) ExpandInPlace(out, rows, row_size, bits, width);
      continue;
    }
    const uint32_t count = std::min(piece_width, width - x);
    for (uint32_t r = 0; r < rows; ++r) {
      TakeIndices(out + r * row_size, bits, plane_samples, count, pixels + uint64_t{y + r} * width + x);
    }
  }
  return {width, height, pixels, width, true, pixels};
}
