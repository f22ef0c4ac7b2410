// Test helper, Windows only: holds a file open while a program runs, the way
// a viewer or a virus scanner holds a picture, and ends with the program's
// exit code.
//
//   windows_holder.exe FILE MILLISECONDS PROGRAM COMMAND-LINE
//
// FILE is opened for reading before PROGRAM starts, sharing reading and
// writing but not deletion, so that it can be written but neither replaced
// nor removed. It is closed MILLISECONDS after PROGRAM started, or when
// PROGRAM ends if that is sooner. Then the run time of PROGRAM, from its
// start to its end, is written to standard error as "ran N ms".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 5) return 1000;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1001;
  DWORD hold = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(argv[3], argv[4], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return 1003;
  }
  WaitForSingleObject(process.hProcess, hold);
  CloseHandle(held);
  WaitForSingleObject(process.hProcess, INFINITE);

  DWORD status = 1004;
  GetExitCodeProcess(process.hProcess, &status);
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user)) return 1005;
  auto ticks = [](FILETIME time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; };
  std::fprintf(stderr, "ran %llu ms\n", static_cast<unsigned long long>((ticks(exited) - ticks(created)) / 10000));
  return static_cast<int>(status);
}
