// Whether a file is one of the previews the tools write, which a later
// preview may replace: it carries kPreviewMarker (png_writer.h).
#ifndef TESSERA_COMMON_PREVIEW_MARKER_H_
#define TESSERA_COMMON_PREVIEW_MARKER_H_

// True for a PNG with a tEXt chunk "Comment" of the marker before its image
// data, and for a GIF with a comment extension of the marker before its first
// image. False for anything else, a file that can't be opened or read
// included. Only the chunk and block headers and the comments are read; the
// rest is passed over by seeking.
bool FileHasPreviewMarker(const char* name);

#endif  // TESSERA_COMMON_PREVIEW_MARKER_H_
