// The readers' stops, as tessera-palette and tessera-frm take them: after the same clean-up
// a stop does in tessera (files closed, blocks released, a pending temporary
// file removed), the reason is thrown to the command as a FileProblem, which
// reports it against the file it was reading and goes on with the next one.
// Beside them, the reading and writing every tool's files share.
#include "frontend/stop.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/problem.h"
#include "convert/readers.h"
#include "platform/platform.h"

void ThrowProblem(const std::string& what) { throw FileProblem{what}; }

void StopWithCode(uint32_t code, int) {
  CleanUpForStop();
  switch (code) {
    case kShortRead:
      ThrowProblem("damaged or cut short");
    case kShortWrite:
      ThrowProblem("could not be written in full");
    case kUnsupportedBitmap:
      ThrowProblem("not a palette picture tessera reads");
    case kUnreadColours:
      ThrowProblem("a full-colour picture of a kind remap does not read; save it as a 24-bit PNG or bitmap");
    case kOutOfMemory:
      ThrowProblem("too large to read");
    default:
      throw FileProblem{"", code};  // the system's refusal: its words depend on the name too
  }
}

std::string FileProblemWords(const FileProblem& problem, const std::string& name) {
  if (problem.error == 0) return problem.what;
  switch (ClassifyFileError(problem.error, name.c_str())) {
    case kErrorNoFile:
      return "no such file";
    case kErrorNoFolder:
      return "no such folder on the way to it";
    case kErrorIsFolder:
      return "a folder, not a file";
    case kErrorAccessDenied:
      return "access denied";
    case kErrorDiskFull:
      return "the disk is full";
    case kErrorReadOnlyMedium:
      return "the disk is read-only";
    case kErrorNotRegularFile:
      return "not a regular file";
    case kErrorOther:
      break;
  }
  char text[256];
  SystemErrorText(problem.error, text, sizeof text);
  return "system error " + std::to_string(problem.error) + ": " + text;
}

void WriteBytes(FileHandle output, const void* bytes, uint32_t size) {
  uint32_t done;
  if (uint32_t error = FileWrite(output, bytes, size, &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortWrite);
}

FileHandle OpenToRead(const char* name, uint64_t* size) {
  FileHandle input;
  if (uint32_t error = FileOpenForReading(name, &input)) StopWithCode(error);
  if (uint32_t error = FileSize(input, size)) StopWithCode(error);
  if (*size == 0) ThrowProblem("an empty file");
  return input;
}

void ReadWholeFile(const char* name, uint64_t limit, const char* too_large, std::vector<uint8_t>* bytes) {
  uint64_t size;
  const FileHandle input = OpenToRead(name, &size);
  if (size >= limit) ThrowProblem(too_large);
  bytes->resize(size);
  uint32_t done;
  if (uint32_t error = FileRead(input, bytes->data(), static_cast<uint32_t>(size), &done)) StopWithCode(error);
  if (done != size) StopWithCode(kShortRead);
  if (uint32_t error = FileClose(input)) StopWithCode(error);
}
