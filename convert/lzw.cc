#include "convert/lzw.h"

void StartLzw(Lzw* lzw, uint8_t* out, uint32_t size, uint32_t root_bits, bool early) {
  lzw->out = out;
  lzw->size = size;
  lzw->done = 0;
  lzw->roots = 1u << root_bits;
  lzw->early = early ? 1 : 0;
  lzw->first_width = lzw->width = root_bits + 1;
  lzw->next = lzw->roots + 2;
  lzw->previous = lzw->previous_length = 0;
}
