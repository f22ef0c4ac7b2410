#include "convert/frame_name.h"

std::string MakeFrameName(std::string_view argument) {
  size_t backslash = argument.rfind('\\');
  if (backslash != std::string_view::npos) argument.remove_prefix(backslash + 1);
  size_t dot = argument.find('.');
  std::string name(argument.substr(0, dot));
  name += ".frm";
  return name;
}
