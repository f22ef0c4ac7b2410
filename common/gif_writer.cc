// GIFs: see gif_writer.h for the file.
#include "common/gif_writer.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "common/problem.h"
#include "frontend/stop.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kClear = 256, kEnd = 257, kFirstFree = 258, kTableLimit = 4096;

// The strings the LZW table holds, found by the code of their string but the
// last index and that last index: open addressing, (prefix << 8 | index) <<
// 12 | code in each slot, 0 for an empty one (no code is 0, the first free
// entry being 258). At most 3838 strings in 16384 slots keep the probes short.
constexpr uint32_t kSlotBits = 14, kSlots = 1u << kSlotBits;
uint32_t slots[kSlots];

uint32_t SlotOf(uint32_t key) { return (key * 2654435761u) >> (32 - kSlotBits); }

// A stop after the temporary file may have been made: the clean-up removes it.
[[noreturn]] void Refuse(const std::string& what) {
  CleanUpForStop();
  ThrowProblem(what);
}

void Flush(GifOutput* output) {
  if (output->used > 0) WriteBytes(output->file, output->buffer, output->used);
  output->used = 0;
}

void Put(GifOutput* output, const void* bytes, uint32_t size) {
  if (output->used + size > sizeof output->buffer) Flush(output);
  std::memcpy(output->buffer + output->used, bytes, size);
  output->used += size;
}

// The image data being written: codes gathered least significant bit first,
// and the sub-block their bytes go into.
struct CodeOutput {
  GifOutput* output;
  uint64_t bits;
  uint32_t count;
  uint8_t block[256];  // the length, then up to 255 bytes
};

void PutBlock(CodeOutput* codes) {
  Put(codes->output, codes->block, codes->block[0] + 1u);
  codes->block[0] = 0;
}

void PutCode(CodeOutput* codes, uint32_t code, uint32_t width) {
  codes->bits |= uint64_t{code} << codes->count;
  for (codes->count += width; codes->count >= 8; codes->count -= 8) {
    codes->block[++codes->block[0]] = static_cast<uint8_t>(codes->bits);
    codes->bits >>= 8;
    if (codes->block[0] == 255) PutBlock(codes);
  }
}

// The image's indices as LZW codes of minimum code size 8, in sub-blocks
// ending in one of length 0. A code is as wide as the next free entry needs
// (a reader adds each entry one code later than this does, but widens at the
// same code). When the table is full, a clear code empties it.
void PutImageData(GifOutput* output, const GifPicture& picture) {
  CodeOutput codes = {output, 0, 0, {}};
  const uint8_t code_size = 8;
  Put(output, &code_size, 1);
  std::memset(slots, 0, sizeof slots);
  uint32_t next = kFirstFree, width = 9;
  PutCode(&codes, kClear, width);
  const uint64_t pixels = uint64_t{picture.width} * picture.height;
  if (pixels > 0) {
    uint32_t prefix = picture.indices[0];
    for (uint32_t y = 0; y < picture.height; ++y) {
      const uint8_t* row = picture.indices + uint64_t{y} * picture.stride;
      for (uint32_t x = y == 0 ? 1 : 0; x < picture.width; ++x) {
        const uint32_t key = prefix << 8 | row[x];
        uint32_t slot = SlotOf(key);
        while (slots[slot] != 0 && slots[slot] >> 12 != key) slot = (slot + 1) & (kSlots - 1);
        if (slots[slot] != 0) {
          prefix = slots[slot] & 0xFFF;
          continue;
        }
        PutCode(&codes, prefix, width);
        slots[slot] = key << 12 | next;
        if (++next > 1u << width && width < 12) ++width;
        if (next == kTableLimit) {
          PutCode(&codes, kClear, width);
          std::memset(slots, 0, sizeof slots);
          next = kFirstFree, width = 9;
        }
        prefix = row[x];
      }
    }
    PutCode(&codes, prefix, width);
    // The reader adds an entry for this last code before it reads the end.
    if (++next > 1u << width && width < 12) ++width;
  }
  PutCode(&codes, kEnd, width);
  if (codes.count > 0) PutCode(&codes, 0, 8 - codes.count);
  if (codes.block[0] > 0) PutBlock(&codes);
  const uint8_t terminator = 0;
  Put(output, &terminator, 1);
}

}  // namespace

void StartGif(const char* name, const GifStart& start, GifOutput* output) {
  if (start.width > 65535 || start.height > 65535) ThrowProblem("too large for a GIF");
  if (start.loop_count > 65535) ThrowProblem("a loop count beyond 65535");
  if (uint32_t error = FileCheckReplaceable(name)) StopWithCode(error);
  if (uint32_t error = FileCreateTemporary(name, &output->file)) StopWithCode(error);
  output->name = name;
  output->used = 0;

  uint8_t head[13 + 256 * 3] = {'G', 'I', 'F', '8', '9', 'a'};
  StoreLittle16(head + 6, start.width);
  StoreLittle16(head + 8, start.height);
  head[10] = 0xF7;  // a global table of 256 entries, 8 bits of colour resolution
  head[11] = start.background;
  const Palette& colours = *start.colours;
  for (uint32_t index = colours.first; index < colours.count && index < 256; ++index)
    std::memcpy(head + 13 + 3 * index, colours.colours[index], 3);
  Put(output, head, sizeof head);

  if (start.loop_count >= 0) {
    uint8_t loop[19] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1};
    StoreLittle16(loop + 16, static_cast<uint32_t>(start.loop_count));
    Put(output, loop, sizeof loop);
  }
  if (start.comment != nullptr) {
    const uint8_t label[2] = {0x21, 0xFE};
    Put(output, label, sizeof label);
    for (size_t at = 0, left = std::strlen(start.comment); left > 0;) {
      const uint8_t size = static_cast<uint8_t>(left < 255 ? left : 255);
      Put(output, &size, 1);
      Put(output, start.comment + at, size);
      at += size, left -= size;
    }
    const uint8_t terminator = 0;
    Put(output, &terminator, 1);
  }
}

void WriteGifImage(GifOutput* output, const GifPicture& picture) {
  if (picture.left > 65535 || picture.top > 65535 || picture.width > 65535 || picture.height > 65535) {
    Refuse("an image too large for a GIF");
  }
  if (picture.delay > 65535) Refuse("a delay beyond 65535 hundredths of a second");
  if (picture.disposal > 7 || picture.transparent > 255) Refuse("an image with a disposal or index GIF can't hold");
  uint8_t control[8] = {0x21, 0xF9, 4};
  control[3] = static_cast<uint8_t>(picture.disposal << 2 | (picture.transparent >= 0 ? 1 : 0));
  StoreLittle16(control + 4, picture.delay);
  control[6] = static_cast<uint8_t>(picture.transparent >= 0 ? picture.transparent : 0);
  Put(output, control, sizeof control);

  uint8_t descriptor[10] = {0x2C};
  StoreLittle16(descriptor + 1, picture.left);
  StoreLittle16(descriptor + 3, picture.top);
  StoreLittle16(descriptor + 5, picture.width);
  StoreLittle16(descriptor + 7, picture.height);
  Put(output, descriptor, sizeof descriptor);  // flags 0: no local table, rows in order
  PutImageData(output, picture);
}

void FinishGif(GifOutput* output) {
  const uint8_t trailer = 0x3B;
  Put(output, &trailer, 1);
  Flush(output);
  if (uint32_t error = FileClose(output->file)) StopWithCode(error);
  if (uint32_t error = FileReplaceWithTemporary(output->name.c_str())) StopWithCode(error);
}
