// The fuzz targets' working folder: one of their own in the temporary
// directory, made the current directory, and removed when libFuzzer ends the
// run with exit().
#ifndef TESSERA_CONVERT_FUZZ_DIRECTORY_H_
#define TESSERA_CONVERT_FUZZ_DIRECTORY_H_

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

inline void EnterFuzzDirectory(const char* prefix) {
  static std::filesystem::path made;
  made = std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  std::filesystem::create_directory(made);
  std::filesystem::current_path(made);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(made, ignored);
  });
}

#endif  // TESSERA_CONVERT_FUZZ_DIRECTORY_H_
