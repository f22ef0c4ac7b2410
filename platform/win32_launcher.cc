// Test helper, Windows only: starts a program with an exact command line and
// ends with its exit code.
//
//   windows_launcher.exe PROGRAM COMMAND-LINE-FILE [--no-stdout]
//   windows_launcher.exe PROGRAM COMMAND-LINE-FILE --hold FILE MILLISECONDS
//
// The command line is the whole content of COMMAND-LINE-FILE, in UTF-8: a
// program whose 8-bit character set is UTF-8 gets it back byte for byte.
// Wine builds a program's command line from a Unix argument vector, so tabs,
// control bytes, lone quotes or empty quoted items can reach tessera.exe
// unchanged only this way. Standard handles are passed on; with --no-stdout
// the program gets no standard output handle at all.
//
// With --hold, FILE is held open the way a viewer or a virus scanner holds a
// picture: opened before PROGRAM starts, sharing reading and writing but not
// deletion, so that it can be written but neither replaced nor removed, and
// closed MILLISECONDS after PROGRAM started, or when PROGRAM ends if that is
// sooner. Then PROGRAM's run time is written to standard error as "ran N ms".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  bool no_stdout = argc == 4 && std::string(argv[3]) == "--no-stdout";
  bool hold = argc == 6 && std::string(argv[3]) == "--hold";
  if (argc != 3 && !no_stdout && !hold) return 1000;
  HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1001;
  std::string line(65536, '\0');
  DWORD got = 0;
  if (!ReadFile(file, line.data(), static_cast<DWORD>(line.size() - 1), &got, nullptr)) return 1002;
  CloseHandle(file);
  line.resize(got);
  // The line's length in UTF-16 units is at most its length in bytes.
  std::wstring wide(line.size() + 1, L'\0');
  if (!line.empty() && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), static_cast<int>(line.size()),
                                           wide.data(), static_cast<int>(wide.size())) == 0) {
    return 1005;
  }
  std::wstring program(MAX_PATH, L'\0');  // the launcher's own argument, in its own character set
  if (MultiByteToWideChar(CP_ACP, 0, argv[1], -1, program.data(), MAX_PATH) == 0) return 1006;

  HANDLE held = INVALID_HANDLE_VALUE;
  DWORD hold_milliseconds = INFINITE;
  if (hold) {
    held = CreateFileA(argv[4], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1007;
    hold_milliseconds = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 10));
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = no_stdout ? nullptr : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.data(), wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return 1003;
  }
  if (hold) {
    WaitForSingleObject(process.hProcess, hold_milliseconds);
    CloseHandle(held);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1004;
  GetExitCodeProcess(process.hProcess, &status);
  if (hold) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user)) return 1008;
    auto ticks = [](FILETIME time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; };
    std::fprintf(stderr, "ran %llu ms\n", static_cast<unsigned long long>((ticks(exited) - ticks(created)) / 10000));
  }
  return static_cast<int>(status);
}
