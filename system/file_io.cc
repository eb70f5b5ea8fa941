#include "system/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
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

}  // namespace

int IoErrorFromErrno(int errno_value) {
  switch (errno_value) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
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
      return 101;
    case ETXTBSY:
      return 162;
    case ENOMEM:
    case EFAULT:
      return 217;
    case EINVAL:
      return 218;
    default:
      return errno_value;
  }
}

int OpenPath(const ShortText& path, int* fd) {
  PathBuffer c_path = CPath(path);
  do {
    *fd = ::open(c_path.Bytes, O_RDONLY | O_CLOEXEC);
  } while (*fd < 0 && errno == EINTR);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

int OpenForReading(const ShortText& path, int* fd, FileFacts* facts) {
  if (int error = OpenPath(path, fd); error != 0) return error;
  struct stat status;
  int error = ::fstat(*fd, &status) != 0 ? IoErrorFromErrno(errno)
              : S_ISDIR(status.st_mode)  ? IoErrorFromErrno(EISDIR)
                                         : 0;
  if (error != 0) {
    CloseFile(*fd);
    *fd = -1;
    return error;
  }
  if (facts != nullptr) {
    facts->Size = status.st_size;
    facts->Regular = S_ISREG(status.st_mode);
  }
  return 0;
}

int CreateForWriting(const ShortText& path, int* fd) {
  PathBuffer c_path = CPath(path);
  do {
    *fd = ::open(c_path.Bytes, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (*fd < 0 && errno == EINTR);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

void CloseFile(int fd) {
  if (fd > kStandardOutput) ::close(fd);
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
  ssize_t result;
  do {
    result = ::read(fd, buffer, count);
  } while (result < 0 && errno == EINTR);  // a signal is not a failure
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

int ReadSomeAt(int fd, int64_t offset, void* buffer, size_t count,
               size_t* got) {
  ssize_t result;
  do {
    result = ::pread(fd, buffer, count, static_cast<off_t>(offset));
  } while (result < 0 && errno == EINTR);
  if (result < 0) return IoErrorFromErrno(errno);
  *got = static_cast<size_t>(result);
  return 0;
}

int WriteAll(int fd, const void* buffer, size_t count) {
  auto* in = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t put = ::write(fd, in, count);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return IoErrorFromErrno(errno);
    if (put == 0) return kErrorShortWrite;
    in += put;
    count -= static_cast<size_t>(put);
  }
  return 0;
}

int GetFileFacts(int fd, FileFacts* facts) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return IoErrorFromErrno(errno);
  facts->Size = status.st_size;
  facts->Regular = S_ISREG(status.st_mode);
  return 0;
}
