#include "frontend/command_line.h"

#include "platform/platform.h"

namespace {

int vector_count = 0;
char** vector_items = nullptr;

bool IsSeparator(char byte) {
  unsigned char value = static_cast<unsigned char>(byte);
  return value >= 1 && value <= 32;
}

// The n-th non-empty item of the argument vector after the program name.
std::string VectorArgument(uint32_t n) {
  for (int i = 1; i < vector_count; ++i) {
    if (vector_items[i][0] != '\0' && --n == 0) return vector_items[i];
  }
  return std::string();
}

}  // namespace

const char* SplitCommandLine(const char* position, std::string* item) {
  item->clear();
  for (;;) {
    if (IsSeparator(*position)) {
      ++position;
    } else if (position[0] == '"' && position[1] == '"') {
      position += 2;
    } else {
      break;
    }
  }
  while (*position != '\0' && !IsSeparator(*position)) {
    if (*position != '"') {
      item->push_back(*position++);
      continue;
    }
    ++position;
    while (*position != '\0' && *position != '"') item->push_back(*position++);
    if (*position == '"') ++position;
  }
  return position;
}

void SetArgumentVector(int argc, char** argv) {
  vector_count = argc;
  vector_items = argv;
}

uint32_t ArgumentCount() {
  const char* line = RawCommandLine();
  if (line == nullptr) {
    uint32_t count = 0;
    for (int i = 1; i < vector_count; ++i) count += vector_items[i][0] != '\0';
    return count;
  }
  std::string item;
  line = SplitCommandLine(line, &item);  // the program name
  uint32_t count = 0;
  for (;;) {
    line = SplitCommandLine(line, &item);
    if (item.empty()) return count;
    ++count;
  }
}

std::string Argument(uint32_t n) {
  const char* line = RawCommandLine();
  if (line == nullptr) return VectorArgument(n);
  std::string item;
  line = SplitCommandLine(line, &item);  // the program name
  for (uint32_t i = 0; i < n; ++i) {
    line = SplitCommandLine(line, &item);
    if (item.empty()) break;
  }
  return item;
}
