// Telling a preview by its marker: see preview_marker.h.
#include "common/preview_marker.h"

#include <cstdint>
#include <cstring>

#include "common/png_writer.h"
#include "convert/readers.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMarkerSize = sizeof kPreviewMarker - 1;

// A file read from `position` on, by reads and forward seeks.
struct Probe {
  FileHandle file;
  uint64_t position;
};

bool Take(Probe* probe, void* bytes, uint32_t size) {
  uint32_t done;
  if (FileRead(probe->file, bytes, size, &done) != 0 || done != size) return false;
  probe->position += size;
  return true;
}

bool Skip(Probe* probe, uint64_t size) {
  if (probe->position + size > 0x7FFFFFFF) return false;
  probe->position += size;
  return FileSeek(probe->file, static_cast<int32_t>(probe->position)) == 0;
}

// The chunks after the signature, up to the image data. A file of more
// chunks than any writer puts before it is not looked at further.
bool PngHasMarker(Probe* probe) {
  constexpr char kText[] = "Comment";  // the keyword, and its terminating zero
  for (int chunk = 0; chunk < 1024; ++chunk) {
    uint8_t head[8];
    if (!Take(probe, head, sizeof head)) return false;
    const uint32_t length = LoadBig32(head);
    if (std::memcmp(head + 4, "IDAT", 4) == 0 || std::memcmp(head + 4, "IEND", 4) == 0) return false;
    if (std::memcmp(head + 4, "tEXt", 4) == 0 && length == sizeof kText + kMarkerSize) {
      char text[sizeof kText + kMarkerSize];
      if (!Take(probe, text, sizeof text)) return false;
      if (std::memcmp(text, kText, sizeof kText) == 0 &&
          std::memcmp(text + sizeof kText, kPreviewMarker, kMarkerSize) == 0)
        return true;
      if (!Skip(probe, 4)) return false;
    } else if (!Skip(probe, uint64_t{length} + 4)) {
      return false;
    }
  }
  return false;
}

// The blocks after the screen and its global table, up to the first image.
bool GifHasMarker(Probe* probe, uint8_t flags) {
  if (flags & 0x80 && !Skip(probe, 3u << ((flags & 7) + 1))) return false;
  for (;;) {
    uint8_t block[2];  // introducer and label
    if (!Take(probe, block, 1) || block[0] != 0x21 || !Take(probe, block + 1, 1)) return false;
    // The sub-blocks, joined; a comment's are kept while they fit the marker.
    const bool is_comment = block[1] == 0xFE;
    char comment[kMarkerSize];
    uint32_t kept = 0;  // past kMarkerSize for a longer comment
    for (;;) {
      uint8_t size;
      if (!Take(probe, &size, 1)) return false;
      if (size == 0) break;
      if (is_comment && kept + size <= kMarkerSize) {
        if (!Take(probe, comment + kept, size)) return false;
        kept += size;
        continue;
      }
      if (is_comment) kept = kMarkerSize + 1;
      if (!Skip(probe, size)) return false;
    }
    if (is_comment && kept == kMarkerSize && std::memcmp(comment, kPreviewMarker, kMarkerSize) == 0) return true;
  }
}

}  // namespace

bool FileHasPreviewMarker(const char* name) {
  Probe probe = {0, 0};
  if (FileOpenForReading(name, &probe.file) != 0) return false;
  uint8_t head[13];
  bool marked = false;
  if (Take(&probe, head, 8) && std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) == 0) {
    marked = PngHasMarker(&probe);
  } else if (probe.position == 8 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0) &&
             Take(&probe, head + 8, 5)) {
    marked = GifHasMarker(&probe, head[10]);
  }
  static_cast<void>(FileClose(probe.file));  // only read: nothing a failed close could lose
  return marked;
}
