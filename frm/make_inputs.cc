// The files make's inputs name.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_check.h"
#include "common/problem.h"
#include "frm/frm.h"
#include "frm/make.h"
#include "frm/natural_order.h"
#include "platform/platform.h"

namespace {

// The endings of the files a folder's pictures are, as the folder script
// takes them.
constexpr const char* kPictureEndings[] = {".bmp", ".png", ".gif", ".tif", ".tiff",
                                           ".tga", ".pcx", ".psd", ".lbm", ".iff"};

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
         });
}

bool IsPictureName(std::string_view name) {
  return std::any_of(std::begin(kPictureEndings), std::end(kPictureEndings), [name](const char* ending) {
    return name.size() > std::strlen(ending) && HasExtension(std::string(name), ending);
  });
}

// The files (not folders) of a folder, each name alone.
std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  const FolderEntryTaker take = [](const char* entry, bool is_folder, void* context) {
    if (!is_folder) static_cast<std::vector<std::string>*>(context)->push_back(entry);
  };
  if (uint32_t error = ListFolder(folder.c_str(), take, &names)) throw FileProblem{"", error};
  return names;
}

void ExpandFolder(const std::string& folder, bool alone, MakeInputs* expanded) {
  std::vector<std::string> names = ListFiles(folder);
  const bool ignore_case = FileNamesIgnoreCase();
  for (const std::string& name : names) {
    if (name == "frames.txt" || (ignore_case && EqualIgnoringCase(name, "frames.txt"))) {
      if (!alone) ThrowProblem("holds " + name + ", so it must be make's only input: the list says every frame");
      expanded->list_folder = WithSeparator(folder);
      expanded->list = expanded->list_folder + name;
      return;
    }
  }
  names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !IsPictureName(name); }),
              names.end());
  if (names.empty())
    ThrowProblem("holds no picture (*.bmp, *.png, *.gif, *.tif, *.tiff, *.tga, *.pcx, *.psd, *.lbm, *.iff)");
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const std::string& name : names) expanded->files.push_back(WithSeparator(folder) + name);
}

void ExpandPattern(const std::string& input, size_t last_part, MakeInputs* expanded) {
  const std::string folder = input.substr(0, last_part), pattern = input.substr(last_part);
  std::vector<std::string> names = ListFiles(folder.empty() ? "." : folder);
  const bool ignore_case = FileNamesIgnoreCase();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) { return !MatchesPattern(pattern, name, ignore_case); }),
              names.end());
  if (names.empty()) ThrowProblem("matches no file");
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const std::string& name : names) expanded->files.push_back(folder + name);
}

}  // namespace

bool IsSeparator(char c) {
  // Windows, whose names ignore case, takes backslashes as well.
  return c == '/' || (c == '\\' && FileNamesIgnoreCase());
}

std::string WithSeparator(const std::string& folder) {
  return folder.empty() || IsSeparator(folder.back()) ? folder : folder + "/";
}

void ExpandInputs(const std::vector<std::string>& inputs, MakeInputs* expanded, std::string* blame) {
  for (const std::string& input : inputs) {
    *blame = input;
    size_t last_part = input.size();
    while (last_part > 0 && !IsSeparator(input[last_part - 1])) --last_part;
    if (IsFolder(input.c_str())) {
      ExpandFolder(input, inputs.size() == 1, expanded);
    } else if (input.find_first_of("*?", last_part) != std::string::npos) {
      ExpandPattern(input, last_part, expanded);
    } else {
      expanded->files.push_back(input);
    }
  }
}
