// The platform layer on POSIX systems (Linux first of all).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

// Start of the program image, placed by the linker (GNU ld, gold and lld).
extern "C" char __executable_start;

namespace {

// The temporary output while it is pending: created, not yet moved or removed.
// The handler of the interruptions reads both, so the name changes only while
// they are blocked, before the file is marked pending.
std::string temporary_name;
volatile sig_atomic_t temporary_pending = 0;

// The signals that interrupt a run: Ctrl-C, kill's default, a closed terminal.
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t InterruptionSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : kInterruptions) sigaddset(&set, number);
  return set;
}

// Removes the temporary file, then ends the process by the same signal, so
// that the caller sees what it sent. The other interruptions are blocked
// while it runs; its own is unblocked for the end.
void Interrupted(int number) {
  if (temporary_pending) unlink(temporary_name.c_str());
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(number, &fallback, nullptr);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, number);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);
  raise(number);
  _exit(128 + number);  // not reached: the default action of each ends the process
}

// What a conversion holds, for CleanUpForStop: at most the input and the
// temporary output are open at once, and two blocks are held.
int open_files[2] = {-1, -1};
struct Block {
  void* start;
  size_t size;
  bool from_heap;
};
Block blocks[2] = {};

void Track(int fd) {
  for (int& slot : open_files) {
    if (slot < 0) {
      slot = fd;
      return;
    }
  }
}

// Keeps descriptors 0 to 2 free: should the process have started without
// standard output, a file opened now must not take its number, or the run-time
// error report would land in that file.
uint32_t KeepAboveStandardStreams(int* fd) {
  if (*fd > 2) return 0;
  int moved = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
  int error = errno;
  close(*fd);
  if (moved < 0) return error;
  *fd = moved;
  return 0;
}

// Opens an existing regular file with `access` and remembers it for
// CleanUpForStop. The open doesn't wait (O_NONBLOCK): a FIFO without a writer
// or a device would hold it, or every read after it, forever. Anything but a
// regular file is refused before a byte of it is read, a folder as EISDIR,
// the rest (a FIFO, a device, a socket) as kNotRegularFile, whether it opens
// or not. O_NONBLOCK stays: it changes nothing for a regular file, whose
// reads and writes wait as ever.
uint32_t OpenTracked(const char* name, int access, FileHandle* file) {
  int fd = open(name, access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat info;
  if (fd < 0) {
    // A socket, or a device without its driver, can't be opened at all.
    int error = errno;
    return stat(name, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) ? kNotRegularFile : error;
  }
  if (fstat(fd, &info) != 0) {
    int error = errno;
    close(fd);
    return error;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return S_ISDIR(info.st_mode) ? EISDIR : kNotRegularFile;
  }
  if (uint32_t error = KeepAboveStandardStreams(&fd)) return error;
  Track(fd);
  *file = fd;
  return 0;
}

}  // namespace

// No open, read, write or seek of a regular file gives ESPIPE ("illegal
// seek"): it stands for no other stop.
const uint32_t kNotRegularFile = ESPIPE;

void PrepareProcess() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int number : kInterruptions) {
    struct sigaction action;
    // A caller that ignores one (nohup, a shell's background job) has it ignored here too.
    if (sigaction(number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action = {};
    action.sa_handler = Interrupted;
    action.sa_mask = InterruptionSet();
    sigaction(number, &action, nullptr);
  }
}

const char* RawCommandLine() { return nullptr; }

uint32_t FileOpenExisting(const char* name, FileHandle* file) { return OpenTracked(name, O_RDWR, file); }

uint32_t FileOpenForReading(const char* name, FileHandle* file) { return OpenTracked(name, O_RDONLY, file); }

uint32_t FileCheckReplaceable(const char* name) {
  // O_NONBLOCK: a FIFO without a reader must not hang the check.
  int fd = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    // Absent, or its directory is: the create that follows reports a
    // missing directory in its own place.
    if (errno == ENOENT || errno == ENOTDIR) return 0;
    return errno;
  }
  close(fd);
  return 0;
}

namespace {

uint32_t CreateTemporary(const char* target, int* fd) {
  std::string directory(target);
  size_t slash = directory.rfind('/');
  directory.erase(slash == std::string::npos ? 0 : slash + 1);
  for (unsigned attempt = 0;; ++attempt) {
    temporary_name = directory + "tessera-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    *fd = open(temporary_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (*fd < 0) {
      if (errno == EEXIST && attempt < 100) continue;
      return errno;
    }
    temporary_pending = 1;
    return 0;
  }
}

}  // namespace

uint32_t FileCreateTemporary(const char* target, FileHandle* file) {
  // Interruptions wait until the file is marked pending: one in between would
  // leave it behind.
  sigset_t interruptions = InterruptionSet(), before;
  sigprocmask(SIG_BLOCK, &interruptions, &before);
  int fd;
  uint32_t created = CreateTemporary(target, &fd);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (created != 0) return created;
  if (uint32_t error = KeepAboveStandardStreams(&fd)) return error;
  Track(fd);
  *file = fd;
  return 0;
}

uint32_t FileReplaceWithTemporary(const char* target) {
  // An interruption after the rename finds no file of the old name to remove.
  if (rename(temporary_name.c_str(), target) != 0) return errno;
  temporary_pending = 0;
  return 0;
}

void CleanUpForStop() {
  for (int& fd : open_files) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (temporary_pending) unlink(temporary_name.c_str());
  temporary_pending = 0;
  for (Block& block : blocks) ReleaseBlock(block.start);
}

bool FileSameAs(const char* a, const char* b) {
  struct stat first, second;
  if (stat(a, &first) != 0 || stat(b, &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsFolder(const char* name) {
  struct stat info;
  return stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

uint32_t MakeFolder(const char* name) { return mkdir(name, 0777) == 0 ? 0 : errno; }

uint32_t ListFolder(const char* name, FolderEntryTaker take, void* context) {
  DIR* folder = opendir(name);
  if (folder == nullptr) return errno;
  std::string path = std::string(name) + "/";
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) break;
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    // The entry's type where the file system gives it, else a look at it.
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) is_folder = IsFolder((path + entry->d_name).c_str());
    take(entry->d_name, is_folder, context);
  }
  const uint32_t error = errno;
  closedir(folder);
  return error;
}

bool FileNamesIgnoreCase() { return false; }

FileErrorKind ClassifyFileError(uint32_t error, const char* name) {
  switch (error) {
    case ENOENT: {
      // The name's folder, when it has one, is there or is not.
      std::string folder(name);
      size_t slash = folder.find_last_of('/');
      if (slash == std::string::npos) return kErrorNoFile;
      folder.erase(slash == 0 ? 1 : slash);
      struct stat info;
      return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? kErrorNoFile : kErrorNoFolder;
    }
    case ENOTDIR:
      return kErrorNoFolder;
    case EISDIR:
      return kErrorIsFolder;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EROFS:
      return kErrorReadOnlyMedium;
    case ESPIPE:
    case ENXIO:  // a FIFO without a reader, or a device without its driver, opened to be written
      return kErrorNotRegularFile;
    default:
      return kErrorOther;
  }
}

void SystemErrorText(uint32_t error, char* text, size_t size) {
  snprintf(text, size, "%s", strerror(static_cast<int>(error)));
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  // One read may deliver less than asked for (the kernel caps a single call
  // near 2 GiB, and signals interrupt); go on until the count or end of file.
  uint32_t total = 0;
  while (total < count) {
    ssize_t got = read(static_cast<int>(file), static_cast<char*>(buffer) + total, count - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return errno;
    }
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  *done = total;
  return 0;
}

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  ssize_t put;
  do {
    put = write(static_cast<int>(file), buffer, count);
  } while (put < 0 && errno == EINTR);
  if (put < 0) {
    *done = 0;
    return errno;
  }
  *done = static_cast<uint32_t>(put);
  return 0;
}

uint32_t FileSeek(FileHandle file, int32_t position) {
  if (lseek(static_cast<int>(file), position, SEEK_SET) < 0) return errno;
  return 0;
}

uint32_t FileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  if (fstat(static_cast<int>(file), &info) != 0) return errno;
  *size = static_cast<uint64_t>(info.st_size);
  return 0;
}

uint32_t FileClose(FileHandle file) {
  for (int& slot : open_files) {
    if (slot == file) slot = -1;
  }
  if (close(static_cast<int>(file)) != 0) return errno;
  return 0;
}

// Under AddressSanitizer the blocks come from its allocator instead, so that
// a read or write past a block's end is caught, not lost in the rest of a page.
#if defined(__SANITIZE_ADDRESS__)
#define TESSERA_CHECKED_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSERA_CHECKED_BLOCKS 1
#endif
#endif

// Blocks from the heap instead of mappings of their own: under the sanitizer
// always, and in a process that asked for them (BlocksFromHeap).
namespace {
#ifdef TESSERA_CHECKED_BLOCKS
bool heap_blocks = true;
#else
bool heap_blocks = false;
#endif
}  // namespace

void BlocksFromHeap() { heap_blocks = true; }

void* AllocateBlock(size_t size) {
  if (heap_blocks) {
    void* block = calloc(size, 1);
    for (Block& slot : blocks) {
      if (block != nullptr && slot.start == nullptr) {
        slot = {block, size, true};
        break;
      }
    }
    return block;
  }
  // Straight from the kernel, with no zeroing of our own: the read fills it.
  // A large block is aligned to 2 MiB and asks for huge pages, so that the
  // read faults in a few huge pages instead of thousands of small ones; the
  // slack mapped around the aligned block is given back at once. A smaller
  // block is mapped in whole at once: one call instead of a fault a page,
  // each of which costs microseconds (far more under a hypervisor).
  constexpr size_t kHugePage = size_t{2} << 20;
  size_t slack = size >= kHugePage ? kHugePage : 0;
  void* mapping = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (slack > 0 ? 0 : MAP_POPULATE), -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  char* block = static_cast<char*>(mapping);
  if (slack > 0) {
    uintptr_t address = reinterpret_cast<uintptr_t>(mapping);
    block += (kHugePage - address % kHugePage) % kHugePage;
    if (block > mapping) munmap(mapping, static_cast<size_t>(block - static_cast<char*>(mapping)));
    char* mapping_end = static_cast<char*>(mapping) + size + slack;
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    char* block_end = block + (size + page - 1) / page * page;
    if (mapping_end > block_end) munmap(block_end, static_cast<size_t>(mapping_end - block_end));
    madvise(block, size, MADV_HUGEPAGE);
  }
  for (Block& slot : blocks) {
    if (slot.start == nullptr) {
      slot = {block, size, false};
      break;
    }
  }
  return block;
}

void ReleaseBlock(void* block) {
  for (Block& slot : blocks) {
    if (block != nullptr && slot.start == block) {
      if (slot.from_heap) {
        free(block);
      } else {
        munmap(block, slot.size);
      }
      slot = {};
      return;
    }
  }
}

StdoutKind StdoutOpen() {
  struct stat info;
  if (fstat(1, &info) != 0) return kStdoutUnusable;
  return S_ISCHR(info.st_mode) ? kStdoutConsole : kStdoutFileOrPipe;
}

uint32_t StdoutWrite(const void* buffer, uint32_t count) {
  const char* next = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t put = write(1, next, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (put == 0) return EIO;
    next += put;
    count -= static_cast<uint32_t>(put);
  }
  return 0;
}

uintptr_t ImageOffset(const void* address) {
  return reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(&__executable_start);
}

void ExitProcessWith(uint32_t status) { _exit(static_cast<int>(status)); }
