#include "listing/output_page.h"

#include <cstring>

#include "system/fatal.h"
#include "system/file_io.h"

namespace {

// Inlined, so that a block's write returns through one frame fewer (see
// system/file_io.h).
[[gnu::always_inline]] inline void WriteBuffer(OutputPage& page) {
  if (page.Used == 0) return;
  if (int error = WriteAll(page.Fd, page.Buffer, page.Used); error != 0) {
    FatalIoError(error);
  }
  page.Used = 0;
}

}  // namespace

void StartPage(OutputPage& page, int fd) {
  page.Fd = fd;
  page.IsTerminal = IsTerminal(fd);
  if (GetFileFacts(fd, &page.Facts) != 0) page.Facts = FileFacts{};
  page.Used = 0;
}

void FillPageBlocks(OutputPage& page, const char* bytes, size_t count) {
  while (count > 0) {
    size_t taken = std::min(count, kPageBlockSize - page.Used);
    std::memcpy(page.Buffer + page.Used, bytes, taken);
    page.Used += taken;
    bytes += taken;
    count -= taken;
    if (page.Used == kPageBlockSize) WriteBuffer(page);
  }
}

void WriteOutPage(OutputPage& page) { WriteBuffer(page); }

void WritePageLine(OutputPage& page, std::string_view line) {
  PutPageText(page, line);
  PutPageText(page, "\n");
  EndPageStatement(page);
}

void ClosePage(OutputPage& page) {
  WriteBuffer(page);
  // A network or quota-bound file system may report a failed write only
  // here, after the last block was taken.
  int error = CloseWrittenFile(page.Fd);
  page.Fd = -1;
  if (error != 0) FatalIoError(error);
}
