// What the tools check before they write over an existing OUT, so that no
// output costs a picture: a picture given where OUT goes by mistake (the
// operands swapped, a name mistyped) is refused before anything is read.
#ifndef TESSERA_COMMON_OUTPUT_CHECK_H_
#define TESSERA_COMMON_OUTPUT_CHECK_H_

#include <string>

// remap: OUT may be written when no file of that name exists (a folder or a
// missing one is left to the write to report), when it is `input` itself (a
// remap in place), or when it is a picture remap could have written: an
// 8-bit indexed bitmap or PNG, or a GIF. Anything else throws a FileProblem
// naming what OUT is and saying to give another name or remove it first.
void CheckRemapOutput(const char* out, const char* input);

// The previews: OUT may be written when no file of that name exists, or when
// it carries the previews' marker (FileHasPreviewMarker); anything else
// throws as for remap.
void CheckPreviewOutput(const char* out);

// Whether the name ends in `extension` (".png"), in any case.
bool HasExtension(const std::string& name, const char* extension);

#endif  // TESSERA_COMMON_OUTPUT_CHECK_H_
