// The standard-output text channel: all text the program writes goes here.
#ifndef TESSERA_FRONTEND_OUTPUT_H_
#define TESSERA_FRONTEND_OUTPUT_H_

#include <cstdint>
#include <string_view>

// Appends `text` and CR LF to the channel. Returns 0, or the run-time error
// code of a failed write (103 when there is no usable standard output).
uint32_t WriteLine(std::string_view text);

// Writes out what is still buffered, at the end of the program. Failures are
// ignored. Standard output is not touched if nothing was ever written.
void FlushOutput();

#endif  // TESSERA_FRONTEND_OUTPUT_H_
