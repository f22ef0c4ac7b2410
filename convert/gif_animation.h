// Every image of a GIF, for the tools that take animations: tessera-frm
// makes a frame of each, tessera-palette checks and remaps each. tessera
// itself reads the first image alone (ReadGif).
#ifndef TESSERA_CONVERT_GIF_ANIMATION_H_
#define TESSERA_CONVERT_GIF_ANIMATION_H_

#include <cstdint>

#include "convert/readers.h"
#include "platform/platform.h"

// The logical screen and what comes before the first image.
struct GifScreen {
  uint32_t width;  // as ReadGif settles them: a side stored as 0 takes the first image's far edge
  uint32_t height;
  uint8_t start;  // what the screen starts as: the background index with a global table, else 0
  bool global_table;
  Palette global;      // the global colour table (count 0 without one)
  int32_t loop_count;  // the NETSCAPE2.0 loop count (0: forever) read so far, -1 without one
};

// One image as stored, with what its graphic control extension (the last
// one before it) says. An image without one has disposal 0, no transparent
// index and delay 0.
struct GifImage {
  uint32_t number;  // from 1, as a viewer counts them
  uint32_t left, top, width, height;
  bool interlaced;
  const uint8_t* indices;  // width x height, the top row first (de-interlaced)
  uint32_t disposal;
  int32_t transparent;     // the transparent index, or -1
  uint32_t delay;          // hundredths of a second
  const Palette* colours;  // its local table, else the global one; `clear` marks the transparent index
  bool local_table;
};

// Called for each image, in order; `context` is the caller's. What it is
// handed lasts until it returns. It must read no other picture meanwhile:
// the readers share one buffer (byte_stream.cc).
using GifImageTaker = void (*)(const GifScreen& screen, const GifImage& image, void* context);

// Called for each frame, as GifImageTaker is: the screen after image `image`
// is painted on it, width x height indices, the top row first. The first is
// exactly the picture ReadGif gives.
using GifFrameTaker = void (*)(const GifScreen& screen, const GifImage& image, const uint8_t* frame, void* context);

// Where a walk is, for a report that names the image: the number of the
// image being read when it stopped, counted from 1. A stop in the extensions
// before an image names that image; one in the screen descriptor or the
// global colour table, 0. After a walk that ends well, the count of images.
struct GifWalk {
  uint32_t image;
};

// Reads the GIF `input` holds from its first byte and hands each image to
// `take`. The file may end without its trailer after a complete image (once
// its last index is decoded); anything else cut short or damaged, after the
// first image as well, stops with kShortRead (walk->image says which), a
// file without an image too; a file that does not start with "GIF" stops
// with kUnsupportedBitmap, a screen ReadGif doesn't convert as ReadGif does.
// Colour tables are read into the screen and the images; indices stay as
// stored. Images of width or height 0 are images.
void ReadGifImages(FileHandle input, GifImageTaker take, void* context, GifWalk* walk);

// The same, each image composited on the screen: painted at its place but
// for pixels of its transparent index (the first image is painted whole),
// then disposed of: 2 the rectangle takes the image's transparent index if it
// has one, else the start value; 3 it goes back to what it was before the
// image; any other value leaves it.
void ReadGifFrames(FileHandle input, GifFrameTaker take, void* context, GifWalk* walk);

#endif  // TESSERA_CONVERT_GIF_ANIMATION_H_
