#include "system/file_io.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "text/text_helpers.h"

namespace {

// Symbolic links followed one after another before a path counts as a loop,
// as the system itself allows.
constexpr int kMostLinks = 40;

FileFacts FactsFrom(const struct stat& status) {
  FileFacts facts;
  facts.Size = status.st_size;
  facts.Regular = S_ISREG(status.st_mode);
  facts.Device = status.st_dev;
  facts.Inode = status.st_ino;
  return facts;
}

// fstat, repeated when a signal interrupts it: 0 or the error number.
int Fstat(int fd, struct stat* status) {
  int result = RepeatOnSignal([&] { return ::fstat(fd, status); });
  return result != 0 ? IoErrorFromErrno(errno) : 0;
}

// stat, symbolic links followed, repeated when a signal interrupts it.
int PathStatus(int directory_fd, const char* path, struct stat* status) {
  int result = RepeatOnSignal(
      [&] { return ::fstatat(directory_fd, path, status, 0); });
  return result != 0 ? IoErrorFromErrno(errno) : 0;
}

// Whether `a` and `b` are the same letter case aside (A to Z only), as a
// copy from a case-blind file system may have them.
bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

bool EndsInOneOf(std::string_view name,
                 std::span<const std::string_view> endings) {
  for (std::string_view ending : endings) {
    if (name.size() >= ending.size() &&
        SameLetters(name.substr(name.size() - ending.size()), ending)) {
      return true;
    }
  }
  return false;
}

// The path as the system reads it: a NUL ends it.
std::string_view UpToNul(const ShortText& path) {
  std::string_view name = View(path);
  return name.substr(0, name.find('\0'));
}

}  // namespace

int IoErrorFromErrno(int errno_value) {
  switch (errno_value) {
    // A device that is not there is as absent as a missing file.
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EPERM:  // an immutable file, or one a sticky directory guards
    case EACCES:
    case EEXIST:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorBadHandle;
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
      return kErrorShortWrite;
    case ETXTBSY:
      return kErrorFileBusy;
    case ENOMEM:
    case EFAULT:
      return kErrorOutOfMemory;
    case EINVAL:
      return kErrorInvalidArgument;
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

int OpenForReading(const ShortText& path, int* fd, FileFacts* facts) {
  if (int error = OpenPath(path, fd); error != 0) return error;
  struct stat status;
  int error = Fstat(*fd, &status);
  if (error == 0 && S_ISDIR(status.st_mode)) error = kErrorAccessDenied;
  if (error != 0) {
    CloseFile(*fd);
    *fd = -1;
    return error;
  }
  if (facts != nullptr) *facts = FactsFrom(status);
  return 0;
}

int CreateForWriting(const ShortText& path, int* fd) {
  *fd = OpenRepeating(CPath(path).Bytes, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return *fd < 0 ? IoErrorFromErrno(errno) : 0;
}

int EmptyFile(int fd) {
  return RepeatOnSignal([&] { return ::ftruncate(fd, 0); }) != 0
             ? IoErrorFromErrno(errno)
             : 0;
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

int GetFileFacts(int fd, FileFacts* facts) {
  struct stat status;
  if (int error = Fstat(fd, &status); error != 0) return error;
  *facts = FactsFrom(status);
  return 0;
}

int GetPathFacts(const ShortText& path, FileFacts* facts) {
  struct stat status;
  if (int error = PathStatus(AT_FDCWD, CPath(path).Bytes, &status);
      error != 0) {
    return error;
  }
  *facts = FactsFrom(status);
  return 0;
}

bool SameFile(const FileFacts& a, const FileFacts& b) {
  return a.Device == b.Device && a.Inode == b.Inode;
}

int FindInDirectory(const ShortText& directory,
                    std::span<const std::string_view> endings,
                    const FileFacts& file, bool* found,
                    std::string_view except_name) {
  *found = false;
  int fd =
      OpenRepeating(CPath(directory).Bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return IoErrorFromErrno(errno);
  DIR* entries = ::fdopendir(fd);
  if (entries == nullptr) {
    int error = IoErrorFromErrno(errno);
    ::close(fd);
    return error;
  }
  int error = 0;
  while (!*found) {
    // Only errno tells the end of the entries from a failed read.
    errno = 0;
    const struct dirent* entry = ::readdir(entries);
    if (entry == nullptr) {
      if (errno != 0) error = IoErrorFromErrno(errno);
      break;
    }
    if (!EndsInOneOf(entry->d_name, endings) ||
        (!except_name.empty() && except_name == entry->d_name)) {
      continue;
    }
    // The entry's own inode would miss a symbolic link to the file.
    struct stat status;
    *found = PathStatus(fd, entry->d_name, &status) == 0 &&
             SameFile(FactsFrom(status), file);
  }
  ::closedir(entries);
  return error;
}

bool LiesDirectlyIn(const ShortText& path, const ShortText& directory,
                    std::span<const std::string_view> endings) {
  // The links are followed by hand, from the path as given: the real path
  // from the root would need every folder above to be searchable.
  char current[PATH_MAX];
  std::memcpy(current, CPath(path).Bytes, kShortTextCapacity + 1);
  for (int hops = 0; hops < kMostLinks; ++hops) {
    char target[PATH_MAX];
    ssize_t length = ::readlink(current, target, sizeof target - 1);
    if (length <= 0) break;  // no link, or none that can be read
    target[length] = '\0';
    // A relative target starts from the link's own folder.
    const char* slash = std::strrchr(current, '/');
    size_t kept = target[0] == '/' || slash == nullptr
                      ? 0
                      : static_cast<size_t>(slash - current) + 1;
    if (kept + static_cast<size_t>(length) >= sizeof current) break;
    std::memcpy(current + kept, target, static_cast<size_t>(length) + 1);
  }
  // The folder keeps its last "/", so that "/" stays the root; a name
  // without one lies in the working directory.
  const char* name = current;
  char parent[PATH_MAX] = ".";
  if (const char* slash = std::strrchr(current, '/'); slash != nullptr) {
    name = slash + 1;
    size_t length = static_cast<size_t>(slash - current) + 1;
    std::memcpy(parent, current, length);
    parent[length] = '\0';
  }
  struct stat in_parent;
  struct stat listed;
  return EndsInOneOf(name, endings) &&
         PathStatus(AT_FDCWD, parent, &in_parent) == 0 &&
         PathStatus(AT_FDCWD, CPath(directory).Bytes, &listed) == 0 &&
         SameFile(FactsFrom(in_parent), FactsFrom(listed));
}

int GetOffset(int fd, int64_t* offset) {
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return IoErrorFromErrno(errno);
  *offset = at;
  return 0;
}

int SetOffset(int fd, int64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0
             ? IoErrorFromErrno(errno)
             : 0;
}

ShortText FolderOf(const ShortText& path) {
  std::string_view name = UpToNul(path);
  size_t slash = name.rfind('/');
  if (slash == std::string_view::npos) return MakeShortText(".");
  return MakeShortText(name.substr(0, slash + 1));
}

std::string_view LastPartOf(const ShortText& path) {
  std::string_view name = UpToNul(path);
  size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

bool FindInAnyCase(const ShortText& path, ShortText* found) {
  std::string_view wanted = LastPartOf(path);
  DIR* entries = ::opendir(CPath(FolderOf(path)).Bytes);
  if (entries == nullptr) return false;
  // The first in byte order, whatever order the folder lists them in.
  char best[kShortTextCapacity + 1] = {};
  bool any = false;
  while (const struct dirent* entry = ::readdir(entries)) {
    std::string_view name = entry->d_name;
    if (!SameLetters(name, wanted) || (any && name.compare(best) >= 0)) {
      continue;
    }
    std::memcpy(best, name.data(), name.size() + 1);
    any = true;
  }
  ::closedir(entries);
  if (!any) return false;
  std::string_view name = UpToNul(path);
  *found = MakeShortText(name.substr(0, name.size() - wanted.size()));
  AppendText(*found, best);
  return true;
}
