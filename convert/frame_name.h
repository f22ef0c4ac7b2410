#ifndef TESSERA_CONVERT_FRAME_NAME_H_
#define TESSERA_CONVERT_FRAME_NAME_H_

#include <string>
#include <string_view>

// The output file's name for a source picture's name: the part after the last
// backslash (the only separator counted), cut after its first dot, then "frm".
// A name without a dot gets one: "tree" gives "tree.frm".
std::string MakeFrameName(std::string_view argument);

#endif  // TESSERA_CONVERT_FRAME_NAME_H_
