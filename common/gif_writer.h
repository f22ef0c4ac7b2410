// GIFs, as tessera-frm's previews and tessera-palette's remaps write them:
// GIF89a, a global colour table, a NETSCAPE2.0 loop count when asked, and
// for each image a graphic control extension (delay, disposal, transparent
// index) and its LZW data. The file is written beside its name and moved
// onto it once complete.
#ifndef TESSERA_COMMON_GIF_WRITER_H_
#define TESSERA_COMMON_GIF_WRITER_H_

#include <cstdint>
#include <string>

#include "convert/readers.h"
#include "platform/platform.h"

// A GIF being written: its temporary file, the name it goes to, and the
// bytes not yet written to the file.
struct GifOutput {
  FileHandle file;
  std::string name;
  uint32_t used;
  uint8_t buffer[65536];
};

// What a GIF starts with. `colours` becomes the global colour table: 256
// entries, black where the palette has none. `loop_count` is written as a
// NETSCAPE2.0 block when 0 (forever) or more, not at all when -1. `comment`,
// when not null, becomes a comment extension (the previews' marker).
struct GifStart {
  uint32_t width;
  uint32_t height;
  uint8_t background;
  const Palette* colours;
  int32_t loop_count;
  const char* comment;
};

// One image: `width` x `height` indices `stride` bytes apart from `indices`,
// the top row first, at (left, top).
struct GifPicture {
  uint32_t left, top, width, height;
  const uint8_t* indices;
  uint32_t stride;
  uint32_t delay;       // hundredths of a second
  uint32_t disposal;    // 0 to 3
  int32_t transparent;  // the transparent index, or -1
};

// Each stops (throws) on a failed write; the temporary file goes then.
void StartGif(const char* name, const GifStart& start, GifOutput* output);
void WriteGifImage(GifOutput* output, const GifPicture& picture);
void FinishGif(GifOutput* output);

#endif  // TESSERA_COMMON_GIF_WRITER_H_
