#include "system/file_io.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A NUL-terminated copy of `path` for the system calls. A NUL inside the
// text ends the path there, as it would for any C caller.
struct PathBuffer {
  char Bytes[kShortTextCapacity + 1];
};

PathBuffer CPath(const ShortText& path) {
  PathBuffer buffer;
  for (int i = 0; i < path.Length; ++i) buffer.Bytes[i] = path.Bytes[i];
  buffer.Bytes[path.Length] = '\0';
  return buffer;
}

FileFacts FactsFrom(const struct stat& status) {
  FileFacts facts;
  facts.Size = status.st_size;
  facts.Regular = S_ISREG(status.st_mode);
  facts.Device = status.st_dev;
  facts.Inode = status.st_ino;
  return facts;
}

// open, repeated when a signal interrupts it: the descriptor, or -1 with
// errno set.
int OpenRepeating(const char* path, int flags, mode_t mode = 0) {
  return RepeatOnSignal([&] { return ::open(path, flags, mode); });
}

// fstat, repeated when a signal interrupts it: 0 or the error number.
int Fstat(int fd, struct stat* status) {
  int result = RepeatOnSignal([&] { return ::fstat(fd, status); });
  return result != 0 ? IoErrorFromErrno(errno) : 0;
}

bool EndsInOneOf(std::string_view name,
                 std::span<const std::string_view> endings) {
  for (std::string_view ending : endings) {
    if (name.ends_with(ending)) return true;
  }
  return false;
}

}  // namespace

int IoErrorFromErrno(int errno_value) {
  switch (errno_value) {
    // A device that is not there is as absent as a missing file.
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EPERM:  // an immutable file, or one a sticky directory guards
    case EACCES:
    case EEXIST:
    case EROFS:
    case EISDIR:
      return 5;
    case EBADF:
      return 6;
    case EINTR:
    case EIO:
    case EAGAIN:
    case ENOSPC:
    case EPIPE:
    // A write past a file-size limit or a quota cannot be taken.
    case EFBIG:
    case EDQUOT:
    // Only a network file system brings these to a file call.
    case ESRCH:
    case ENETDOWN:
    case ENETUNREACH:
      return 101;
    case ETXTBSY:
      return 162;
    case ENOMEM:
    case EFAULT:
      return 217;
    case EINVAL:
      return 218;
    default:
      // The codes above are all those whose value the table uses for
      // something else; every other keeps its value without a clash.
      return errno_value;
  }
}

int OpenClosedStandardDescriptors() {
  for (int fd = kStandardInput; fd <= kStandardError; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Those below `fd` are open by now, so the open takes `fd` itself.
    if (OpenRepeating("/dev/null", fd == kStandardInput ? O_RDONLY : O_WRONLY) <
        0) {
      return IoErrorFromErrno(errno);
    }
  }
  return 0;
}

void IgnoreWriteSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool IsTerminal(int fd) {
  struct termios settings;
  return tcgetattr(fd, &settings) == 0;
}

int OpenPath(const ShortText& path, int* fd) {
  *fd = OpenRepeating(CPath(path).Bytes, O_RDONLY | O_CLOEXEC);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

int OpenForReading(const ShortText& path, int* fd, FileFacts* facts) {
  if (int error = OpenPath(path, fd); error != 0) return error;
  struct stat status;
  int error = Fstat(*fd, &status);
  if (error == 0 && S_ISDIR(status.st_mode)) error = IoErrorFromErrno(EISDIR);
  if (error != 0) {
    CloseFile(*fd);
    *fd = -1;
    return error;
  }
  if (facts != nullptr) *facts = FactsFrom(status);
  return 0;
}

int CreateForWriting(const ShortText& path, int* fd) {
  *fd = OpenRepeating(CPath(path).Bytes,
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

void CloseFile(int fd) {
  if (fd > kStandardOutput) ::close(fd);
}

int CloseWrittenFile(int fd) {
  if (fd <= kStandardOutput) return 0;
  // Not repeated on EINTR: Linux has released the descriptor by then, and a
  // second close could hit a descriptor opened since. An interrupted close
  // may have cut short the writing out that a network file system does
  // there, so it counts as a failed write (101): a page that may be lost is
  // never reported as written.
  return ::close(fd) != 0 ? IoErrorFromErrno(errno) : 0;
}

int ReadExactly(int fd, void* buffer, size_t count) {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    size_t got = 0;
    if (int error = ReadSome(fd, out, count, &got); error != 0) return error;
    if (got == 0) return kErrorShortRead;
    out += got;
    count -= got;
  }
  return 0;
}

int ReadSome(int fd, void* buffer, size_t count, size_t* got) {
  ssize_t result = RepeatOnSignal([&] { return ::read(fd, buffer, count); });
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

int ReadSomeAt(int fd, int64_t offset, void* buffer, size_t count,
               size_t* got) {
  ssize_t result = RepeatOnSignal(
      [&] { return ::pread(fd, buffer, count, static_cast<off_t>(offset)); });
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

int WriteAll(int fd, const void* buffer, size_t count) {
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

int GetFileFacts(int fd, FileFacts* facts) {
  struct stat status;
  if (int error = Fstat(fd, &status); error != 0) return error;
  *facts = FactsFrom(status);
  return 0;
}

int GetPathFacts(const ShortText& path, FileFacts* facts) {
  PathBuffer c_path = CPath(path);
  struct stat status;
  if (RepeatOnSignal([&] { return ::stat(c_path.Bytes, &status); }) != 0) {
    return IoErrorFromErrno(errno);
  }
  *facts = FactsFrom(status);
  return 0;
}

bool SameFile(const FileFacts& a, const FileFacts& b) {
  return a.Device == b.Device && a.Inode == b.Inode;
}

bool DirectoryHoldsFile(const ShortText& directory,
                        std::span<const std::string_view> endings,
                        const FileFacts& file) {
  int fd =
      OpenRepeating(CPath(directory).Bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* entries = ::fdopendir(fd);
  if (entries == nullptr) {
    ::close(fd);
    return false;
  }
  bool found = false;
  while (!found) {
    const struct dirent* entry = ::readdir(entries);
    if (entry == nullptr) break;
    if (!EndsInOneOf(entry->d_name, endings)) continue;
    // The entry's own inode would miss a symbolic link to the file.
    struct stat status;
    int result = RepeatOnSignal(
        [&] { return ::fstatat(fd, entry->d_name, &status, 0); });
    found = result == 0 && SameFile(FactsFrom(status), file);
  }
  ::closedir(entries);
  return found;
}
