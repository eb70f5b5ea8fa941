#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

// What the fuzz targets share: files in memory that the real readers open by
// path, a check that stops the fuzzer with a message, and a reference reading
// of a description written from the file format alone.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/short_text.h"

// Stops the run (and so reports the input) when `condition` does not hold.
#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                             \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

// An in-memory regular file holding `bytes`, its offset at the start. Each
// `slot` is one file kept for the whole run and refilled for every input,
// so that neither the file nor its pages are made anew each time; the
// caller does not close it.
inline int MemoryFile(std::string_view bytes, int slot = 0) {
  static int files[2] = {-1, -1};
  int& fd = files[slot];
  if (fd < 0) fd = memfd_create("pellidor-fuzz", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(ftruncate(fd, static_cast<off_t>(bytes.size())) == 0);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = pwrite(fd, bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(done));
    FUZZ_CHECK(put > 0);
    done += static_cast<size_t>(put);
  }
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
  return fd;
}

// A path that opens the file behind `fd` anew, as the program opens files.
inline ShortText DescriptorPath(int fd) {
  return MakeShortText("/proc/self/fd/" + std::to_string(fd));
}

// Every byte of the file behind `fd`, whatever its offset.
inline std::string FileBytes(int fd) {
  std::string bytes;
  char buffer[4096];
  ssize_t got;
  while ((got = pread(fd, buffer, sizeof buffer,
                      static_cast<off_t>(bytes.size()))) > 0) {
    bytes.append(buffer, static_cast<size_t>(got));
  }
  FUZZ_CHECK(got == 0);
  return bytes;
}

inline std::string ToString(const ShortText& text) {
  return std::string(View(text));
}

// The description of `lines` items at `offset` in the ".des" bytes `store`:
// each item is a length byte and that many bytes. False when an item does not
// lie wholly inside the file (a negative offset never does); `*items` then
// holds the items read before. `Item` is std::string or, to spare the
// copies, std::string_view.
template <typename Item>
bool ReferenceDescription(std::string_view store, int64_t offset, int lines,
                          std::vector<Item>* items) {
  items->clear();
  if (lines == 0) return true;
  if (offset < 0) return false;
  auto at = static_cast<uint64_t>(offset);
  for (int i = 0; i < lines; ++i) {
    if (at >= store.size()) return false;
    size_t length = static_cast<uint8_t>(store[at++]);
    if (length > store.size() - at) return false;
    items->emplace_back(store.substr(at, length));
    at += length;
  }
  return true;
}

#endif  // FUZZ_FUZZ_SUPPORT_H_
