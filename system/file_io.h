#ifndef SYSTEM_FILE_IO_H_
#define SYSTEM_FILE_IO_H_

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "text/short_text.h"

// The thin layer over the system's file calls. A file is a descriptor; each
// call returns 0 or one of the program's I/O error numbers, never errno.

// The numbers a failed call's system error code becomes (IoErrorFromErrno).
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorTooManyOpenFiles = 4;
// Permission denied, and also the program's own refusal of an output page
// that is one of the run's inputs.
inline constexpr int kErrorNoSuchFile = 2;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorBadHandle = 6;
// A read that ends before the whole record or block it asked for.
inline constexpr int kErrorShortRead = 100;
// A write that cannot take the whole buffer, and also a device or a call
// that fails (an I/O error, a full disk, a broken pipe).
inline constexpr int kErrorShortWrite = 101;
inline constexpr int kErrorFileBusy = 162;
inline constexpr int kErrorOutOfMemory = 217;
inline constexpr int kErrorInvalidArgument = 218;

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Makes the system call `call` again for as long as a signal interrupts it
// (-1 with EINTR): a signal is not a failure. Returns the last call's
// result, with errno telling why when it is -1.
template <typename SystemCall>
auto RepeatOnSignal(SystemCall call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

// The program's error number for the system's error code `errno_value`.
int IoErrorFromErrno(int errno_value);

// Opens /dev/null on each of descriptors 0 (for reading), 1 and 2 (for
// writing) that is closed, so that no file the run opens takes one of them.
// Returns 0, or the error number when /dev/null cannot be opened.
int OpenClosedStandardDescriptors();

// Lets a write to a pipe that no one reads, or past the file-size limit,
// fail (101) instead of ending the process by SIGPIPE or SIGXFSZ.
void IgnoreWriteSignals();

// Whether `fd` is open on a terminal.
bool IsTerminal(int fd);

// The calls made for every listed file (OpenPath, ReadSome, ReadSomeAt,
// WriteAll) are defined here, to be inlined into their callers, and the few
// procedures between them and the list's loop are inlined too. A kernel that
// overwrites the processor's return predictions at each system call (as one
// guarding against return-stack attacks does) makes every frame that a call
// returns through a mispredicted return: ten frames more at each call made
// bench/floor.cc 7.5% slower, and six frames fewer for each listed file made
// a run 1.6% faster (medians of 400 alternating pairs).

// A NUL-terminated copy of `path` for the system calls. A NUL inside the
// text ends the path there, as it would for any C caller.
struct PathBuffer {
  char Bytes[kShortTextCapacity + 1];
};

inline PathBuffer CPath(const ShortText& path) {
  PathBuffer buffer;
  std::memcpy(buffer.Bytes, path.Bytes, path.Length);
  buffer.Bytes[path.Length] = '\0';
  return buffer;
}

// open, repeated when a signal interrupts it: the descriptor, or -1 with
// errno set.
[[gnu::always_inline]] inline int OpenRepeating(const char* path, int flags,
                                                mode_t mode = 0) {
  return RepeatOnSignal([&] { return ::open(path, flags, mode); });
}

// Opens `path` for reading into `*fd`, whatever kind of file it names.
[[gnu::always_inline]] inline int OpenPath(const ShortText& path, int* fd) {
  *fd = OpenRepeating(CPath(path).Bytes, O_RDONLY | O_CLOEXEC);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

// What the system tells of an open file.
struct FileFacts {
  int64_t Size = 0;      // 0 also for files whose size the system leaves out
  bool Regular = false;  // only a regular file can be emptied or outgrown
  uint64_t Device = 0;   // with Inode, which file it is whatever its path
  uint64_t Inode = 0;
};

// The facts of the open file `fd`.
int GetFileFacts(int fd, FileFacts* facts);

// The facts of the file at `path`, symbolic links followed.
int GetPathFacts(const ShortText& path, FileFacts* facts);

// Whether `a` and `b` tell of the same file, by device and inode.
bool SameFile(const FileFacts& a, const FileFacts& b);

// Looks through `directory` for an entry whose name ends in one of `endings`
// in any letter case and that is `file`, symbolic links followed; `*found`
// tells. The entry named `except_name`, when not empty, is passed over.
// Returns 0 when the directory was read through, or the error number when it
// could not be opened or read to its end.
int FindInDirectory(const ShortText& directory,
                    std::span<const std::string_view> endings,
                    const FileFacts& file, bool* found,
                    std::string_view except_name = {});

// The folder part of `path` as the system reads it (up to its first NUL):
// everything up to its last "/", or "." without one.
ShortText FolderOf(const ShortText& path);

// The last part of `path` as the system reads it: after its last "/".
std::string_view LastPartOf(const ShortText& path);

// Looks in the folder of `path` for an entry named as its last part in any
// letter case (A to Z only; every other byte the same), as a copy from a
// case-blind file system may have it. Of several, the first in byte order
// goes to `*found`, with the folder part of `path` before it. False when
// none is there or the folder cannot be read.
bool FindInAnyCase(const ShortText& path, ShortText* found);

// Whether the existing file `path`, symbolic links followed, is an entry of
// `directory` (the same directory by device and inode) under a name ending
// in one of `endings` in any letter case.
bool LiesDirectlyIn(const ShortText& path, const ShortText& directory,
                    std::span<const std::string_view> endings);

// Opens `path` for reading into `*fd` and, when `facts` is given, tells what
// it is. A directory is refused (5) like any file that cannot be opened; on
// failure `*fd` is -1.
int OpenForReading(const ShortText& path, int* fd, FileFacts* facts = nullptr);

// Opens `path` for writing, creating it (mode 0666 less the umask) when it is
// not there; symbolic links are followed. An existing file keeps its bytes:
// EmptyFile empties it once it is known to be no input.
int CreateForWriting(const ShortText& path, int* fd);

// Cuts the open file `fd` to no bytes.
int EmptyFile(int fd);

// Closes `fd` unless it is standard input or output; the result is ignored.
void CloseFile(int fd);

// Closes `fd` unless it is standard input or output; returns 0 or the error
// number of a failed close. The descriptor is gone either way.
int CloseWrittenFile(int fd);

// Where the open file `fd` stands, into `*offset`.
int GetOffset(int fd, int64_t* offset);

// Moves the open file `fd` to `offset`.
int SetOffset(int fd, int64_t offset);

// 0 when all `count` bytes came, 100 if the file ended first.
int ReadExactly(int fd, void* buffer, size_t count);

// Reads what one call gives, at most `count` bytes, into `*got`; 0 bytes at
// the end of the file.
inline int ReadSome(int fd, void* buffer, size_t count, size_t* got) {
  ssize_t result = RepeatOnSignal([&] { return ::read(fd, buffer, count); });
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

// Reads at `offset` what one call gives, at most `count` bytes, into `*got`.
inline int ReadSomeAt(int fd, int64_t offset, void* buffer, size_t count,
                      size_t* got) {
  ssize_t result = RepeatOnSignal(
      [&] { return ::pread(fd, buffer, count, static_cast<off_t>(offset)); });
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

// 0 when all `count` bytes were taken; a write that takes nothing is 101.
inline int WriteAll(int fd, const void* buffer, size_t count) {
  auto* in = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t put = RepeatOnSignal([&] { return ::write(fd, in, count); });
    if (put < 0) return IoErrorFromErrno(errno);
    if (put == 0) return kErrorShortWrite;
    in += put;
    count -= static_cast<size_t>(put);
  }
  return 0;
}

#endif  // SYSTEM_FILE_IO_H_
