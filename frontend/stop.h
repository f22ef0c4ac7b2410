// The two ways the program ends: normally with status 0, or stopped by a
// failed check with a run-time error code.
#ifndef TESSERA_FRONTEND_STOP_H_
#define TESSERA_FRONTEND_STOP_H_

#include <cstdint>

// Run-time error codes of the program's own; the others are the operating
// system's error numbers, passed on unchanged.
constexpr uint32_t kShortRead = 100;
constexpr uint32_t kShortWrite = 101;
constexpr uint32_t kChannelNotOpen = 103;
constexpr uint32_t kUnsupportedBitmap = 201;
constexpr uint32_t kOutOfMemory = 203;

// Ends the run with `code` as exit status, after undoing what a conversion
// left in progress (its temporary output above all) and printing the one-line
// run-time error report.
//
// The failure point is the address this call returns to, so every call site
// has its own. `site` is never read: it makes the arguments of every call
// differ, so that an optimiser can't fold the calls of several sites into one
// and leave them sharing a failure point.
[[noreturn]] void StopWithCode(uint32_t code, int site = __builtin_LINE());

// The normal end: writes out buffered text and ends with status 0.
[[noreturn]] void EndProgram();

#endif  // TESSERA_FRONTEND_STOP_H_
