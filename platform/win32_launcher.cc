// Test helper, Windows only: starts a program with an exact command line and
// ends with its exit code.
//
//   windows_launcher.exe PROGRAM COMMAND-LINE-FILE [--no-stdout]
//   windows_launcher.exe PROGRAM COMMAND-LINE-FILE --hold FILE SHARE MILLISECONDS
//   windows_launcher.exe PROGRAM COMMAND-LINE-FILE --interrupt
//
// The command line is the whole content of COMMAND-LINE-FILE, in UTF-8: a
// program whose 8-bit character set is UTF-8 gets it back byte for byte.
// Wine builds a program's command line from a Unix argument vector, so tabs,
// control bytes, lone quotes or empty quoted items can reach tessera.exe
// unchanged only this way. Standard handles are passed on; with --no-stdout
// the program gets no standard output handle at all.
//
// With --hold, FILE is held open the way a viewer or a virus scanner holds a
// picture: opened for reading, sharing what SHARE names (r reading, w writing,
// d deletion), and closed MILLISECONDS later, or when PROGRAM ends if that is
// sooner. Then PROGRAM's run time is written to standard error as "ran N ms".
// A FILE without '*' is opened before PROGRAM starts. A FILE with '*' is a
// pattern: the first file that matches it once PROGRAM runs (its temporary
// file) is opened as soon as it appears, and "held" or "refused N" (the error)
// goes to standard error at once.
//
// With --interrupt the launcher takes a console of its own, starts PROGRAM in
// its process group there, waits until a temporary file "tessera-*.tmp"
// appears in the current directory and sends Ctrl-C to the whole console,
// which it ignores itself.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

DWORD ShareMode(const std::string& letters) {
  DWORD share = 0;
  if (letters.find('r') != std::string::npos) share |= FILE_SHARE_READ;
  if (letters.find('w') != std::string::npos) share |= FILE_SHARE_WRITE;
  if (letters.find('d') != std::string::npos) share |= FILE_SHARE_DELETE;
  return share;
}

// Waits until a file matching `pattern` exists and gives its name, or gives
// an empty name once `process` has ended.
std::string WaitForFile(const char* pattern, HANDLE process) {
  for (;;) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      return found.cFileName;
    }
    if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) return "";
  }
}

BOOL WINAPI IgnoreInterruption(DWORD) { return TRUE; }

}  // namespace

int main(int argc, char** argv) {
  bool no_stdout = argc == 4 && std::string(argv[3]) == "--no-stdout";
  bool hold = argc == 7 && std::string(argv[3]) == "--hold";
  bool interrupt = argc == 4 && std::string(argv[3]) == "--interrupt";
  if (argc != 3 && !no_stdout && !hold && !interrupt) return 1000;
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
  DWORD hold_milliseconds = INFINITE, share = 0;
  bool hold_pattern = hold && std::string(argv[4]).find('*') != std::string::npos;
  if (hold) {
    share = ShareMode(argv[5]);
    hold_milliseconds = static_cast<DWORD>(std::strtoul(argv[6], nullptr, 10));
  }
  if (hold && !hold_pattern) {
    held = CreateFileA(argv[4], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1007;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = no_stdout ? nullptr : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (interrupt) {
    // The standard handles above stay the program's; only the console is new.
    // A handler that ignores Ctrl-C is not inherited, as SetConsoleCtrlHandler(nullptr, TRUE) would be.
    FreeConsole();
    if (!AllocConsole()) return 1009;
    if (!SetConsoleCtrlHandler(IgnoreInterruption, TRUE)) return 1010;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.data(), wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return 1003;
  }
  if (hold_pattern) {
    std::string name = WaitForFile(argv[4], process.hProcess);
    held = name.empty()
               ? INVALID_HANDLE_VALUE
               : CreateFileA(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "refused %lu\n", name.empty() ? 0ul : static_cast<unsigned long>(GetLastError()));
    } else {
      std::fprintf(stderr, "held\n");
    }
    std::fflush(stderr);
  }
  if (hold) {
    WaitForSingleObject(process.hProcess, hold_milliseconds);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }
  if (interrupt && !WaitForFile("tessera-*.tmp", process.hProcess).empty()) {
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 1011;
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
