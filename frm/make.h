// tessera-frm make's parts: the inputs its operands name (make_inputs.cc)
// and the FRM it writes of them (make.cc).
#ifndef TESSERA_FRM_MAKE_H_
#define TESSERA_FRM_MAKE_H_

#include <string>
#include <vector>

// The files make reads, folders and patterns opened up.
struct MakeInputs {
  std::vector<std::string> files;  // pictures and GIFs, in order; none for a list
  std::string list;                // a frames.txt, when its folder is the only input
  std::string list_folder;         // that folder, with a separator at its end
};

// Opens up each input: a folder into its pictures in natural name order (or
// its frames.txt, when it is the only input), a name with `*` or `?` in its
// last part into the files it matches in natural name order. A problem stops
// with a FileProblem, `*blame` the input it is with.
void ExpandInputs(const std::vector<std::string>& inputs, MakeInputs* expanded, std::string* blame);

#endif  // TESSERA_FRM_MAKE_H_
