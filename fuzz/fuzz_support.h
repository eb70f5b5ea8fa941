#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

// What the fuzz targets share: files in memory that the real readers open by
// path, a check that stops the fuzzer with a message, and a reference reading
// of a description written from the file format alone.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/short_text.h"

// Stops the run (and so reports the input) when `condition` does not hold.
#define FUZZ_CHECK(condition) FuzzCheck(condition, #condition, __LINE__)
inline void FuzzCheck(bool holds, const char* what, int line) {
  if (holds) return;
  std::fprintf(stderr, "line %d: check failed: %s\n", line, what);
  std::abort();
}

// An in-memory regular file holding `bytes`, its offset at the start. Each
// `slot` is one file kept for the whole run and refilled for every input;
// the caller does not close it.
inline int MemoryFile(std::string_view bytes, int slot = 0) {
  static int files[2] = {-1, -1};
  int& fd = files[slot];
  if (fd < 0) fd = memfd_create("pellidor-fuzz", MFD_CLOEXEC);
  FUZZ_CHECK(ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0);
  FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
  return fd;
}

// A path that opens the file behind `fd` anew, as the program opens files.
inline ShortText DescriptorPath(int fd) {
  return MakeShortText("/proc/self/fd/" + std::to_string(fd));
}

// Every byte of the in-memory file behind `fd`.
inline std::string FileBytes(int fd) {
  std::string bytes(lseek(fd, 0, SEEK_END), '\0');
  FUZZ_CHECK(pread(fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()));
  return bytes;
}

// The description of `lines` items at `offset` in the ".des" bytes `store`:
// each item is a length byte and that many bytes. False when an item does not
// lie wholly inside the file (a negative offset never does); `*items` then
// holds the items read before.
template <typename Item>
bool ReferenceDescription(std::string_view store, int64_t offset, int lines,
                          std::vector<Item>* items) {
  items->clear();
  for (uint64_t at = offset; items->size() < size_t(lines);) {
    if (offset < 0 || at >= store.size()) return false;
    size_t length = uint8_t(store[at++]);
    if (length > store.size() - at) return false;
    items->emplace_back(store.substr(at, length));
    at += length;
  }
  return true;
}

#endif  // FUZZ_FUZZ_SUPPORT_H_
