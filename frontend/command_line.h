// The command line: its splitting into items and the arguments it holds.
#ifndef TESSERA_FRONTEND_COMMAND_LINE_H_
#define TESSERA_FRONTEND_COMMAND_LINE_H_

#include <cstdint>
#include <string>

// Takes the next item off a command line, starting at `position`. Stores the
// item (empty only at the end of the line) and returns the position after it.
//
// Bytes 1 to 32 separate items; a pair of double quotes met between items is
// skipped like a separator. Inside an item a double quote opens a run copied
// unchanged up to the next double quote (or the end), both quotes dropped; a
// run may start and stop anywhere in an item. There is no escape character.
const char* SplitCommandLine(const char* position, std::string* item);

// Keeps the argument vector for platforms that deliver one instead of a raw
// command line. Empty items are dropped, since splitting a raw command line
// never yields one.
void SetArgumentVector(int argc, char** argv);

// Number of command-line items after the program name.
uint32_t ArgumentCount();

// The n-th item after the program name (n >= 1); empty when there are fewer.
std::string Argument(uint32_t n);

#endif  // TESSERA_FRONTEND_COMMAND_LINE_H_
