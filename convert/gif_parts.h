// The parts of GIF reading that tessera's reader of the first image (gif.cc)
// and the tools' reader of every image (gif_animation.cc) share. The file's
// grammar is at the top of gif.cc.
#ifndef TESSERA_CONVERT_GIF_PARTS_H_
#define TESSERA_CONVERT_GIF_PARTS_H_

#include <cstdint>

#include "convert/byte_stream.h"
#include "convert/lzw.h"
#include "convert/readers.h"

// The bytes of a colour table that a screen's or an image's `flags` announce.
inline uint32_t GifColourTableSize(uint8_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; }

// Reads a colour table of `size` bytes into `palette`; none leaves it as it is.
void ReadGifColourTable(ByteStream* stream, uint32_t size, Palette* palette);

// What a graphic control extension says of the image after it.
struct GifControl {
  uint32_t disposal;
  int32_t transparent;  // -1: none
  uint32_t delay;       // hundredths of a second
};
constexpr GifControl kNoGifControl = {0, -1, 0};

enum GifBlock : uint32_t {
  kGifImageBlock,    // an image descriptor's 0x2C was read
  kGifTrailerBlock,  // the trailer's 0x3B was read
  kGifFileEnd,       // the file ends where a block would start
};

// Reads extensions up to the next block that is not one, and says which it
// is. Each graphic control extension on the way replaces `*control`; a
// NETSCAPE2.0 application extension's loop count goes into `*loop_count`. An
// extension cut short, or a byte that starts no block, stops with kShortRead.
GifBlock ReadGifExtensions(ByteStream* stream, GifControl* control, int32_t* loop_count);

// An image descriptor, after its 0x2C.
struct GifDescriptor {
  uint32_t left, top, width, height;
  uint8_t flags;  // bit 7: a local colour table follows; bit 6: rows interlaced
};
void ReadGifDescriptor(ByteStream* stream, GifDescriptor* descriptor);

// The screen's sides as `first`, the first image, settles them: a side of 0
// takes the image's far edge on that side. A side 0 even then or above 65535
// stops with kUnsupportedBitmap, a screen too large for a block with
// kOutOfMemory.
void SettleGifScreen(uint32_t stored_width, uint32_t stored_height, const GifDescriptor& first, uint32_t* width,
                     uint32_t* height);

// Reads an image's minimum code size: 2 to 8, else a stop with kShortRead.
uint32_t ReadGifCodeSize(ByteStream* stream);

// Decodes an image's `size` indices into `out`, in stored order, with `table`
// as the LZW table. Nothing is read past what the last code needs but what
// the buffer already holds of its sub-block; the count of that sub-block's
// bytes still unread comes back.
uint32_t DecodeGifImage(ByteStream* stream, uint32_t code_size, LzwEntry* table, uint8_t* out, uint32_t size);

// Passes over the rest of an image's data: `left` bytes of the sub-block its
// last code came from and the sub-blocks after it, up to the one of length 0.
// False when the file ends first.
bool SkipGifData(ByteStream* stream, uint32_t left);

// Puts the rows of an interlaced image, decoded in stored order, in their
// places.
void DeinterlaceGif(uint8_t* rows, uint32_t width, uint32_t height);

// Paints an image's `indices`, `where` says where and how large, on a screen
// of `width` x `height`; pixels off the screen are dropped. The rows of an
// `interlaced` image go to their places. Pixels of index `transparent` leave
// the screen as it was; -1 paints every pixel.
void PaintGifImage(const uint8_t* indices, const GifDescriptor& where, bool interlaced, int32_t transparent,
                   uint8_t* screen, uint32_t width, uint32_t height);

#endif  // TESSERA_CONVERT_GIF_PARTS_H_
