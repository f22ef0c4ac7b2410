// tessera-palette: reads palettes, checks pictures against one, remaps
// pictures into one and previews frames through one. The readers of convert/
// hand back a picture, its palette or its colours; the procedures here read
// palette files and carry out the three commands.
#ifndef TESSERA_PALETTE_PALETTE_H_
#define TESSERA_PALETTE_PALETTE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/output_check.h"
#include "common/png_writer.h"
#include "common/problem.h"
#include "convert/gif_animation.h"
#include "convert/readers.h"

// A palette file's bytes, or a picture's palette: the formats are told by
// their content, never by a file's extension. `depth` is 6 or 8 for a raw
// 768-byte table (--depth), 0 to let its bytes tell.
void LoadPalette(const char* name, uint32_t depth, Palette* palette);

// Whether the file is a palette file, not a picture, as LoadPalette tells
// them: a JASC-PAL, GIMP or RIFF palette, or a table of 768 or 772 bytes or
// with lookup tables. False for a file that can't be read.
bool IsPaletteFile(const char* name);

// The sizes of a palette file of 768 bytes of 6-bit values and its lookup
// tables: a table of 32,768 bytes from 15-bit colours to indices; or that,
// "NEWC" and three of 65,536 bytes.
constexpr uint64_t kLookupTableSize = 768 + 32768;
constexpr uint64_t kNewcTablesSize = kLookupTableSize + 4 + 3 * 65536;

// Whether an entry of the palette shows a colour.
inline bool IsColour(const Palette& palette, uint32_t index) {
  return index >= palette.first && index < palette.count && !palette.no_colour[index];
}

// JASC-PAL and GIMP palettes; throws, naming the line, for text that is
// neither or that breaks their rules.
void ParseTextPalette(const std::string& text, Palette* palette);

// RIFF PAL files; false when the bytes are not one.
bool ParseRiffPalette(const std::string& bytes, Palette* palette);

// Tables of 768 bytes (raw, 6-bit when no byte is above 63 unless `depth`
// says), Adobe colour tables of 772 bytes, and the 768 bytes of 6-bit values
// before lookup tables, where an entry with a value above 63 is no colour.
void ParseColourTable(const std::string& bytes, uint32_t depth, Palette* palette);

// Reads the picture `name` as tessera would, through ReadPicture, with its
// own palette into `own`; a full-colour picture comes as colours. The caller
// releases the picture's block.
Picture ReadPictureFile(const char* name, Palette* own);

// Hands each image of the GIF `name` to `take`, as ReadGifImages does, and
// gives their count; 0, having read only its first bytes, when the file is
// not a GIF. A problem in an image after the first names it ("image 3:
// damaged or cut short").
uint32_t WalkGif(const char* name, GifImageTaker take, void* context);

// The images of the GIF `name`, read to its end; 0 when it is not a GIF.
uint32_t CountGifImages(const char* name);

// Whether an animation's frames show the screen's start value because of
// this image: the first leaves some of the screen to it, or an image without
// a transparent index is disposed of to it (2).
enum StartShown { kStartHidden, kStartUncovered, kStartDisposedTo };
StartShown ShowsStartValue(const GifScreen& screen, const GifImage& image);

// One image of remap's result: width x height palette indices, the top row
// first, at (left, top) on the screen, with a GIF image's delay (hundredths
// of a second), disposal and transparent index (0, 0 and -1 for a picture).
struct RemappedImage {
  uint32_t left, top, width, height;
  uint32_t delay, disposal;
  int32_t transparent;
  std::vector<uint8_t> pixels;
};

// remap's result: a picture is one image covering the screen; a GIF
// remapped to a GIF has each of its images, its screen, the background index
// it starts from and its loop count (-1 without one).
struct Indices {
  uint32_t width;
  uint32_t height;
  uint8_t background;
  int32_t loop_count;
  std::vector<RemappedImage> images;
};

// remap: what the command line asks beyond the files.
struct RemapOptions {
  bool nearest;      // a colour the palette lacks takes its nearest entry
  int32_t clear_to;  // the index of transparent pixels, or -1
};

// remap: the picture's pixels as the palette's indices into `indices`, for
// the OUT `out_name`: a GIF to a .gif image by image, each through its own
// colour table; anything else as one picture, which a GIF of several images
// is not (that throws, naming the count). 0 when every pixel has an index,
// with the lines that say what the remap did in `result`, for standard
// output once OUT is in place; 1, having said why on standard output, when
// colours are missing or transparent pixels have no index. A picture that
// can't be read throws.
int RemapPicture(const char* name, const Palette& palette, const RemapOptions& options, const char* out_name,
                 Indices* indices, std::string* result);

// remap: whether OUT names a bitmap, PNG or GIF, the outputs remap writes.
bool IsRemapOutput(const std::string& name);

// remap: writes the indices as an 8-bit bitmap, an indexed PNG (of the one
// image a picture has) or a GIF of every image (by the name's extension)
// whose colours are the palette's.
void WriteRemapped(const char* out_name, const Indices& indices, const Palette& palette);

// A name as a command line takes it: quoted when it holds a space, and
// `always` for a command a script prints (cmd reads & ( ) ^ in a name too).
std::string Quoted(const char* name, bool always = false);

// check: how the next step is named. Inline, a command in the line that says
// what to do (`tessera-palette remap game.pal tree.png tree.png`); none, its
// words alone (`remap`), for the folder script, which prints the command
// itself with the program's path; only, the command alone without the
// program (`remap "game.pal" "tree.png" "tree.png"`, every name quoted), on a
// line of its own, and nothing else.
enum CheckAdvice { kAdviceInline, kAdviceNone, kAdviceOnly };

// check: one line a picture on standard output; for one that differs up to 8
// more for the indices that differ and one with the next step, the remap
// command that puts it in order (`palette_name` in it). A GIF of several
// images is checked image by image, as tessera-frm make takes them: each
// through its own colour table, the indices it paints (the first image all of
// its screen, the later ones but for their transparent index); its lines name
// the count and the images. 0 when it matches the palette, 1 when it differs;
// a picture that can't be read throws.
int CheckPicture(const char* name, const Palette& palette, const char* palette_name, CheckAdvice advice);

// preview: a frame's rows, or those of the frame tessera would make of a
// picture (told apart by the frame's version at the start), read and
// compressed for a PNG's image data. `packed` is a block of its own. An FRM
// that is not tessera's single frame throws, naming the tessera-frm preview
// (of `palette_name`) that shows it.
PackedFrame ReadFrame(const char* frame_name, const char* palette_name);

#endif  // TESSERA_PALETTE_PALETTE_H_
