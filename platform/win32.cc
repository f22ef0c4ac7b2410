// The platform layer on Windows: the program's real home, a console process.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// The temporary output while it is pending: created, not yet moved or
// removed. Its handle stays open until then, so that no other program can take
// the file in between. The lock keeps the handler of interruptions, which runs
// on a thread of its own, apart from a create, a move or a removal.
HANDLE temporary = INVALID_HANDLE_VALUE;
SRWLOCK temporary_lock = SRWLOCK_INIT;

// What a conversion holds besides the temporary output, for CleanUpForStop:
// the input, and two blocks.
HANDLE open_files[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
void* blocks[2] = {};

void Track(HANDLE handle) {
  for (HANDLE& slot : open_files) {
    if (slot == INVALID_HANDLE_VALUE) {
      slot = handle;
      return;
    }
  }
}

HANDLE stdout_handle = INVALID_HANDLE_VALUE;

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Another program may hold a file open for a moment without sharing what this
// one needs (a viewer, an indexer, a virus scanner looking at the new file),
// which refuses the open or the move with a sharing or lock violation, or, for
// a move onto a file held without sharing deletion, with access denied where
// `denied_too`. `attempt` is made again after pauses of 10, 20, 40 ... ms,
// about two seconds in all; then its error stands.
DWORD RetryWhileHeld(DWORD (*attempt)(const void* argument), const void* argument, bool denied_too) {
  constexpr DWORD kRetryMilliseconds = 2000;
  DWORD waited = 0;
  for (DWORD pause = 10;; pause *= 2) {
    DWORD error = attempt(argument);
    bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                (denied_too && error == ERROR_ACCESS_DENIED);
    if (!held || waited >= kRetryMilliseconds) return error;
    pause = std::min(pause, kRetryMilliseconds - waited);
    Sleep(pause);
    waited += pause;
  }
}

DWORD OpenForWriting(const void* name) {
  HANDLE handle = CreateFileA(static_cast<const char*>(name), GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // Absent, or its directory is: the create that follows reports a
    // missing directory in its own place.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    return error;
  }
  CloseHandle(handle);
  return 0;
}

// One try at the final move, through the temporary file's own handle;
// `rename` is a FILE_RENAME_INFO naming the frame. Once moved, the file is the
// frame, and its handle is closed.
DWORD MoveTemporary(const void* rename) {
  const FILE_RENAME_INFO* info = static_cast<const FILE_RENAME_INFO*>(rename);
  DWORD size = static_cast<DWORD>(offsetof(FILE_RENAME_INFO, FileName) + info->FileNameLength + sizeof(WCHAR));
  AcquireSRWLockExclusive(&temporary_lock);
  DWORD error = 0;
  if (!SetFileInformationByHandle(temporary, FileRenameInfo, const_cast<FILE_RENAME_INFO*>(info), size)) {
    error = GetLastError();
  } else {
    if (!CloseHandle(temporary)) error = GetLastError();
    temporary = INVALID_HANDLE_VALUE;
  }
  ReleaseSRWLockExclusive(&temporary_lock);
  return error;
}

// Marks the pending temporary file for deletion through its own handle: it
// goes when the last handle to it closes, whoever else holds it (they all
// share deletion, or could not have opened it).
void MarkTemporaryForDeletion() {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(temporary, FileDispositionInfo, &disposition, sizeof disposition);
}

// Ctrl-C, Ctrl-Break and a closed console: the pending temporary file goes,
// and the process ends at once with the status Windows gives an interrupted
// console program, without a report. The lock is never given back: a move in
// progress completes first, and nothing starts after. (The system calls no
// handler for Ctrl-C in a process that inherited the choice to ignore it.)
BOOL WINAPI Interrupted(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  AcquireSRWLockExclusive(&temporary_lock);
  if (temporary != INVALID_HANDLE_VALUE) MarkTemporaryForDeletion();
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

// Opens an existing file on a disk with `access` and remembers it for
// CleanUpForStop. A device name (CON, NUL, COM1) or a named pipe opens at
// once, without waiting, and is refused before anything is read from it, as
// kNotRegularFile: reading one could wait forever or never end.
uint32_t OpenTracked(const char* name, DWORD access, FileHandle* file) {
  HANDLE handle = CreateFileA(name, access, kShareReadWrite, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return kNotRegularFile;
  }
  Track(handle);
  *file = reinterpret_cast<FileHandle>(handle);
  return 0;
}

}  // namespace

// "The file type being saved or retrieved has been blocked": no file
// operation of the program gives it for a file on a disk.
const uint32_t kNotRegularFile = ERROR_BAD_FILE_TYPE;

const char* RawCommandLine() { return GetCommandLineA(); }

uint32_t FileOpenExisting(const char* name, FileHandle* file) {
  return OpenTracked(name, GENERIC_READ | GENERIC_WRITE, file);
}

uint32_t FileOpenForReading(const char* name, FileHandle* file) { return OpenTracked(name, GENERIC_READ, file); }

uint32_t FileCheckReplaceable(const char* name) {
  // A viewer that shares only reading refuses the open for writing for as
  // long as it holds the earlier frame; a read-only frame or a directory is
  // refused with access denied, which stands at once.
  return RetryWhileHeld(OpenForWriting, name, false);
}

uint32_t FileCreateTemporary(const char* target, FileHandle* file) {
  std::string directory(target);
  size_t end = directory.find_last_of("\\/:");
  directory.erase(end == std::string::npos ? 0 : end + 1);
  for (unsigned attempt = 0;; ++attempt) {
    AcquireSRWLockExclusive(&temporary_lock);
    std::string name =
        directory + "tessera-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    // With DELETE no other program can open it without sharing deletion, so
    // none can keep it from being moved or removed through this handle.
    temporary = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareReadWrite, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = temporary == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    ReleaseSRWLockExclusive(&temporary_lock);
    if (error != 0) {
      if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
      return error;
    }
    *file = reinterpret_cast<FileHandle>(temporary);
    return 0;
  }
}

uint32_t FileReplaceWithTemporary(const char* target) {
  // The new name as the -A calls read names (in the 8-bit character set, UTF-8
  // under the manifest), relative to the current directory as the frame's name is.
  int length = MultiByteToWideChar(CP_ACP, 0, target, -1, nullptr, 0);
  if (length == 0) return GetLastError();
  size_t size = offsetof(FILE_RENAME_INFO, FileName) + sizeof(WCHAR) * static_cast<size_t>(length);
  std::vector<FILE_RENAME_INFO> rename((size + sizeof(FILE_RENAME_INFO) - 1) / sizeof(FILE_RENAME_INFO));
  rename[0].ReplaceIfExists = TRUE;
  rename[0].RootDirectory = nullptr;
  rename[0].FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * static_cast<size_t>(length - 1));
  if (MultiByteToWideChar(CP_ACP, 0, target, -1, rename[0].FileName, length) == 0) return GetLastError();
  return RetryWhileHeld(MoveTemporary, rename.data(), true);
}

void CleanUpForStop() {
  AcquireSRWLockExclusive(&temporary_lock);
  if (temporary != INVALID_HANDLE_VALUE) {
    MarkTemporaryForDeletion();
    CloseHandle(temporary);
    temporary = INVALID_HANDLE_VALUE;
  }
  ReleaseSRWLockExclusive(&temporary_lock);
  for (HANDLE& handle : open_files) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  for (void* block : blocks) ReleaseBlock(block);
}

namespace {

// The file's volume and index, through a handle that asks for no access, so
// that any file or folder can be looked at, whoever holds it.
bool FileIdentity(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(name, 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BOOL ok = GetFileInformationByHandle(handle, info);
  CloseHandle(handle);
  return ok != FALSE;
}

}  // namespace

bool FileSameAs(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  if (!FileIdentity(a, &first) || !FileIdentity(b, &second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool IsFolder(const char* name) {
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t MakeFolder(const char* name) { return CreateDirectoryA(name, nullptr) ? 0 : GetLastError(); }

uint32_t ListFolder(const char* name, FolderEntryTaker take, void* context) {
  std::string pattern = std::string(name) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;  // no entry at all, not even "."
  }
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
    take(found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, context);
  } while (FindNextFileA(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : error;
}

bool FileNamesIgnoreCase() { return true; }

FileErrorKind ClassifyFileError(uint32_t error, const char* name) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return kErrorNoFile;
    case ERROR_PATH_NOT_FOUND:
      return kErrorNoFolder;
    case ERROR_DIRECTORY:
      return kErrorIsFolder;
    case ERROR_ACCESS_DENIED: {
      // Opening a folder as a file is refused with access denied too.
      DWORD attributes = GetFileAttributesA(name);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return kErrorIsFolder;
      return kErrorAccessDenied;
    }
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kErrorDiskFull;
    case ERROR_WRITE_PROTECT:
      return kErrorReadOnlyMedium;
    case ERROR_BAD_FILE_TYPE:
      return kErrorNotRegularFile;
    default:
      return kErrorOther;
  }
}

void SystemErrorText(uint32_t error, char* text, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                static_cast<DWORD>(size), nullptr);
  // The system's text ends with a full stop and a line end.
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.' || text[length - 1] == ' ')) {
    --length;
  }
  if (length == 0 && size > 0) {
    lstrcpynA(text, "no words from the system", static_cast<int>(size));
  } else if (length < size) {
    text[length] = '\0';
  }
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  DWORD got = 0;
  BOOL ok = ReadFile(AsHandle(file), buffer, count, &got, nullptr);
  *done = got;
  return ok ? 0 : GetLastError();
}

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  DWORD put = 0;
  BOOL ok = WriteFile(AsHandle(file), buffer, count, &put, nullptr);
  *done = put;
  return ok ? 0 : GetLastError();
}

uint32_t FileSeek(FileHandle file, int32_t position) {
  // Without a high part the position is a signed 32-bit value, so no valid
  // result can look like the failure value.
  if (SetFilePointer(AsHandle(file), position, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return GetLastError();
  }
  return 0;
}

uint32_t FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(AsHandle(file), &length)) return GetLastError();
  *size = static_cast<uint64_t>(length.QuadPart);
  return 0;
}

uint32_t FileClose(FileHandle file) {
  // The temporary file stays open until it is moved or removed.
  if (AsHandle(file) == temporary) return 0;
  for (HANDLE& slot : open_files) {
    if (slot == AsHandle(file)) slot = INVALID_HANDLE_VALUE;
  }
  return CloseHandle(AsHandle(file)) ? 0 : GetLastError();
}

// Blocks from the process's heap instead of mappings of their own, once a
// process asked for them (BlocksFromHeap).
namespace {
bool heap_blocks = false;
}  // namespace

void BlocksFromHeap() { heap_blocks = true; }

void* AllocateBlock(size_t size) {
  void* block = heap_blocks ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size)
                            : VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  for (void*& slot : blocks) {
    if (slot == nullptr) {
      slot = block;
      break;
    }
  }
  return block;
}

void ReleaseBlock(void* block) {
  for (void*& slot : blocks) {
    if (block != nullptr && slot == block) {
      if (heap_blocks) {
        HeapFree(GetProcessHeap(), 0, block);
      } else {
        VirtualFree(block, 0, MEM_RELEASE);
      }
      slot = nullptr;
    }
  }
}

StdoutKind StdoutOpen() {
  stdout_handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (stdout_handle == nullptr || stdout_handle == INVALID_HANDLE_VALUE) return kStdoutUnusable;
  switch (GetFileType(stdout_handle)) {
    case FILE_TYPE_CHAR:
      return kStdoutConsole;
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
      return kStdoutFileOrPipe;
    default:
      return kStdoutUnusable;
  }
}

uint32_t StdoutWrite(const void* buffer, uint32_t count) {
  const char* next = static_cast<const char*>(buffer);
  while (count > 0) {
    DWORD put = 0;
    if (!WriteFile(stdout_handle, next, count, &put, nullptr)) return GetLastError();
    if (put == 0) return ERROR_WRITE_FAULT;
    next += put;
    count -= put;
  }
  return 0;
}

uintptr_t ImageOffset(const void* address) {
  MEMORY_BASIC_INFORMATION region;
  uintptr_t start = 0;
  if (VirtualQuery(address, &region, sizeof region) != 0 && region.State == MEM_COMMIT) {
    start = reinterpret_cast<uintptr_t>(region.AllocationBase);
  }
  return reinterpret_cast<uintptr_t>(address) - start;
}

void ExitProcessWith(uint32_t status) { ExitProcess(status); }

// A failed write returns its error here; there are no signals to set aside.
void PrepareProcess() {
  // Every failure is a code, never a dialog that waits for a click (a drive
  // without a medium), which would hang an unattended pipeline.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(Interrupted, TRUE);
}
