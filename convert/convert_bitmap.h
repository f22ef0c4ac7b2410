#ifndef TESSERA_CONVERT_CONVERT_BITMAP_H_
#define TESSERA_CONVERT_CONVERT_BITMAP_H_

#include <string_view>

// Converts "vantrel.tmp" in the current directory into the frame file named
// after `argument`. Returns only on success; any failure stops the program.
void ConvertBitmap(std::string_view argument);

#endif  // TESSERA_CONVERT_CONVERT_BITMAP_H_
