// The small layer between tessera and the operating system. Everything the
// program asks of the system goes through these procedures; posix.cc and
// win32.cc implement them. Calls that can fail return 0 on success or the
// operating system's own error number (errno on POSIX, GetLastError on
// Windows), which becomes the program's run-time error code unchanged.
#ifndef TESSERA_PLATFORM_PLATFORM_H_
#define TESSERA_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = intptr_t;

// Called first, before anything is read or written: a write that fails must
// return its error, never end the process, so that every run ends with its
// code. On POSIX neither a pipe without a reader (SIGPIPE) nor a file-size
// limit (SIGXFSZ) may kill it; on Windows no failure may open a dialog that
// waits for a click (a drive without a medium).
//
// An interruption removes the pending temporary file and ends the process at
// once, without a report: on POSIX SIGINT, SIGTERM and SIGHUP, each ending it
// by the same signal; on Windows Ctrl-C, Ctrl-Break and closing the console,
// ending it with STATUS_CONTROL_C_EXIT. One that the caller chose to ignore
// stays ignored. An earlier frame is never touched: an interruption during the
// final move leaves the earlier frame or the new one.
void PrepareProcess();

// The raw command line as one string where the platform keeps it that way
// (Windows); nullptr where it delivers an argument vector instead (POSIX).
const char* RawCommandLine();

// Opens an existing file for reading and writing, sharing both with others.
// Only a regular file (one on a disk) opens: the open never waits, and a
// FIFO, a socket, a device or a device name (CON, NUL, COM1 on Windows) or
// a named pipe is refused with kNotRegularFile, a folder with the system's
// own error for one.
uint32_t FileOpenExisting(const char* name, FileHandle* file);

// Opens an existing file for reading only, sharing reading and writing with
// others: tessera-palette reads palettes, pictures and frames it may not write.
// Only a regular file opens, as for FileOpenExisting.
uint32_t FileOpenForReading(const char* name, FileHandle* file);

// The error number an open gives for a name that is no regular file: one no
// other failure gives (ESPIPE on POSIX, ERROR_BAD_FILE_TYPE on Windows).
extern const uint32_t kNotRegularFile;

// 0 when a file of this name may be replaced: it does not exist, or it can be
// opened for writing. Otherwise the error that opening it for writing gives
// (access denied for a read-only file or a directory). Changes nothing. On
// Windows an open refused because another program holds the file (a viewer
// sharing only reading) is tried again, as the final move is.
uint32_t FileCheckReplaceable(const char* name);

// Creates a new file, unique to this run, in the directory of `target`; it
// never replaces anything. The platform remembers it until it is moved onto
// `target` by FileReplaceWithTemporary or removed by CleanUpForStop. On
// Windows it is opened with the right to delete it, so no other program can
// open it without sharing deletion, and FileClose keeps it open: the move and
// the removal go through this run's own handle.
uint32_t FileCreateTemporary(const char* target, FileHandle* file);

// Moves the temporary file, closed by FileClose, onto `target` in one atomic
// step, replacing any file of that name. On Windows a move refused because
// another program holds the earlier frame is tried again for about two
// seconds.
uint32_t FileReplaceWithTemporary(const char* target);

// On the way to a stop: closes the files still open, removes the temporary
// file if it is still pending and releases the pixel block, so that nothing a
// failed conversion started outlives it. Errors are ignored.
void CleanUpForStop();

// Whether two names are one file, by what the system knows it as (device and
// inode on POSIX, volume serial number and file index on Windows), however
// they are spelt: links, "./", case, short names. False when either can't be
// looked at (absent, say).
bool FileSameAs(const char* a, const char* b);

// Folders, for tessera-frm: the pictures of a folder or a pattern, and the
// folder explode writes into.
//
// Whether `name` is a folder (false when it is absent or anything else).
bool IsFolder(const char* name);

// Makes the folder `name`, whose parent exists; 0 or the system's error
// number (one for an existing file or folder of that name too).
uint32_t MakeFolder(const char* name);

// Hands each entry of the folder `name` but "." and ".." to `take`, with
// whether it is a folder itself, in the system's order; 0 or the system's
// error number.
using FolderEntryTaker = void (*)(const char* entry, bool is_folder, void* context);
uint32_t ListFolder(const char* name, FolderEntryTaker take, void* context);

// Whether the platform's file names are the same in any case (Windows).
bool FileNamesIgnoreCase();

// What a refused file operation's error number means, for a report in words.
// `name` is the file it was refused for: on POSIX a missing file and a
// missing folder on the way to it have one number, and its folder tells them
// apart; on Windows a folder opened as a file is refused as access denied,
// and the name tells it from a file that is.
enum FileErrorKind {
  kErrorOther,
  kErrorNoFile,          // no file of that name
  kErrorNoFolder,        // a folder on the way to it does not exist (or is a file)
  kErrorIsFolder,        // a folder, where a file was wanted
  kErrorAccessDenied,    // the system refuses this user the file or its folder
  kErrorDiskFull,        // no room left on the disk (or in the user's quota)
  kErrorReadOnlyMedium,  // the disk or medium can't be written at all
  kErrorNotRegularFile,  // a FIFO, a socket, a device or a named pipe, not a file on a disk
};
FileErrorKind ClassifyFileError(uint32_t error, const char* name);

// The system's own words for an error number, in `text` (at most `size`
// bytes with the terminating zero, no line end).
void SystemErrorText(uint32_t error, char* text, size_t size);

// Reads up to `count` bytes; `*done` tells how many arrived. On POSIX a read
// cut short before the end of the file is continued.
uint32_t FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done);

// One write of `count` bytes; `*done` tells how many the system accepted.
uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);

// Sets the position to `position` bytes from the start. A negative position
// is refused by the system.
uint32_t FileSeek(FileHandle file, int32_t position);

// The file's length in bytes.
uint32_t FileSize(FileHandle file, uint64_t* size);

uint32_t FileClose(FileHandle file);

// Memory straight from the system, or nullptr when it can't be had: the
// pixel block and, beside it, the stored or compressed pixel data. It comes
// zeroed by the system, never by a pass of our own. At most two blocks are
// held at once.
void* AllocateBlock(size_t size);
void ReleaseBlock(void* block);

// For a process that reads many pictures one after another (the tools): from
// now on blocks come from the heap, zeroed by it, so that the memory of a
// released block serves the next one instead of a mapping made and unmade
// for each picture.
void BlocksFromHeap();

enum StdoutKind { kStdoutUnusable, kStdoutConsole, kStdoutFileOrPipe };

// Binds standard output on first use and tells what it is.
StdoutKind StdoutOpen();

// Writes all `count` bytes to standard output; 0 or the system's error number.
uint32_t StdoutWrite(const void* buffer, uint32_t count);

// Offset of a code address from the start of the loaded program image.
uintptr_t ImageOffset(const void* address);

[[noreturn]] void ExitProcessWith(uint32_t status);

#endif  // TESSERA_PLATFORM_PLATFORM_H_
