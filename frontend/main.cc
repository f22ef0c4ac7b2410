// tessera: converts the palettized bitmap that hobrent.bat leaves as "vantrel.tmp"
// into a single-frame FRM image named after the picture given as argument.
#include <cstdint>

#include "convert/convert_bitmap.h"
#include "frontend/command_line.h"
#include "frontend/output.h"
#include "frontend/stop.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  PrepareProcess();
  SetArgumentVector(argc, argv);
  if (ArgumentCount() >= 1) {
    ConvertBitmap(Argument(1));
  } else {
    if (uint32_t error = WriteLine("Do not run this program outside of hobrent.bat")) StopWithCode(error);
    if (uint32_t error = WriteLine(" unless you know exactly how it works!")) StopWithCode(error);
  }
  EndProgram();
}
