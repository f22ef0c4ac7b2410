// What tessera-palette and tessera-frm share in reporting: a problem with a
// file is thrown to the command that was reading or writing it, which names
// the file and goes on or ends as it sees fit. The readers' StopWithCode
// throws one too (stop.cc), after the clean-up a stop does in tessera, so the
// next file starts afresh.
#ifndef TESSERA_COMMON_PROBLEM_H_
#define TESSERA_COMMON_PROBLEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// What went wrong with a file. A refusal of the operating system carries its
// error number instead, put into words by FileProblemWords once the file's
// name is known.
struct FileProblem {
  std::string what;
  uint32_t error = 0;
};

[[noreturn]] void ThrowProblem(const std::string& what);

// What went wrong with the file `name`, in words.
std::string FileProblemWords(const FileProblem& problem, const std::string& name);

// Opens a file to read, refusing one that is empty (or, through the
// platform, one that is not a regular file); its size in `size`.
FileHandle OpenToRead(const char* name, uint64_t* size);

// Reads a whole file through OpenToRead into `bytes`; one of `limit` bytes or
// more throws `too_large`.
void ReadWholeFile(const char* name, uint64_t limit, const char* too_large, std::vector<uint8_t>* bytes);

// Writes all of `size` bytes, or stops.
void WriteBytes(FileHandle output, const void* bytes, uint32_t size);

#endif  // TESSERA_COMMON_PROBLEM_H_
