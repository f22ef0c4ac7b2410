#include "convert/lzw.h"

LzwEntry lzw_table[4096];
