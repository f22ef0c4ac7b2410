// The platform layer on Windows: the program's real home, a console process.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

// The temporary output while it is pending: created, not yet moved or removed.
std::string temporary_name;
bool temporary_pending = false;

// What a conversion holds, for CleanUpForStop: at most the input and the
// temporary output are open at once, and two blocks are held.
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

}  // namespace

const char* RawCommandLine() { return GetCommandLineA(); }

uint32_t FileOpenExisting(const char* name, FileHandle* file) {
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  Track(handle);
  *file = reinterpret_cast<FileHandle>(handle);
  return 0;
}

uint32_t FileCheckReplaceable(const char* name) {
  HANDLE handle = CreateFileA(name, GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
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

uint32_t FileCreateTemporary(const char* target, FileHandle* file) {
  std::string directory(target);
  size_t end = directory.find_last_of("\\/:");
  directory.erase(end == std::string::npos ? 0 : end + 1);
  for (unsigned attempt = 0;; ++attempt) {
    temporary_name = directory + "tessera-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(attempt) + ".tmp";
    HANDLE handle = CreateFileA(temporary_name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareReadWrite, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
      return error;
    }
    Track(handle);
    temporary_pending = true;
    *file = reinterpret_cast<FileHandle>(handle);
    return 0;
  }
}

uint32_t FileReplaceWithTemporary(const char* target) {
  // Another program may hold the earlier frame open for a moment without
  // letting it be replaced (a viewer, an indexer, a virus scanner looking at
  // the new file), which refuses the move with one of these. The move is
  // tried again after pauses of 10, 20, 40 ... ms, about two seconds in all;
  // then its error stands. Nothing else is retried.
  constexpr DWORD kRetryMilliseconds = 2000;
  DWORD waited = 0;
  for (DWORD pause = 10;; pause *= 2) {
    if (MoveFileExA(temporary_name.c_str(), target, MOVEFILE_REPLACE_EXISTING)) break;
    DWORD error = GetLastError();
    bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!held || waited >= kRetryMilliseconds) return error;
    pause = std::min(pause, kRetryMilliseconds - waited);
    Sleep(pause);
    waited += pause;
  }
  temporary_pending = false;
  return 0;
}

void CleanUpForStop() {
  // Closed first: an open file can't be deleted here.
  for (HANDLE& handle : open_files) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  if (temporary_pending) DeleteFileA(temporary_name.c_str());
  temporary_pending = false;
  for (void* block : blocks) ReleaseBlock(block);
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
  for (HANDLE& slot : open_files) {
    if (slot == AsHandle(file)) slot = INVALID_HANDLE_VALUE;
  }
  return CloseHandle(AsHandle(file)) ? 0 : GetLastError();
}

void* AllocateBlock(size_t size) {
  void* block = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
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
      VirtualFree(block, 0, MEM_RELEASE);
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
void PrepareProcess() {}
