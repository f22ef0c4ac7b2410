// Times tessera's readers inside one running process, for bench/run.py to
// set beside Pillow's decoding in a process of its own:
//
//   decode_time PICTURE RUNS
//
// reads PICTURE RUNS times, each from its first byte to the decoded picture
// in its own block (taken and given back as in a conversion), and prints the
// median time in milliseconds. No frame is written.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "convert/readers.h"
#include "frontend/stop.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decode_time PICTURE RUNS\n");
    return 2;
  }
  FileHandle input;
  if (uint32_t error = FileOpenForReading(argv[1], &input)) StopWithCode(error);
  std::vector<double> times;
  for (int run = 0; run < std::atoi(argv[2]); ++run) {
    const auto start_time = std::chrono::steady_clock::now();
    if (uint32_t error = FileSeek(input, 0)) StopWithCode(error);
    uint8_t start[kStartSize];
    uint32_t got;
    if (uint32_t error = FileRead(input, start, sizeof start, &got)) StopWithCode(error);
    const Picture picture = PickReader(start, got)(input, start, got, nullptr);
    ReleaseBlock(picture.block);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_time).count());
  }
  if (times.empty()) return 2;
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  std::printf("%.3f\n", times[times.size() / 2]);
  return 0;
}
