#ifndef LISTING_OUTPUT_PAGE_H_
#define LISTING_OUTPUT_PAGE_H_

#include <cstddef>
#include <cstring>
#include <string_view>

#include "system/file_io.h"

inline constexpr size_t kPageBlockSize = 256;

// The output page: bytes reach the file in 256-byte blocks as the buffer
// fills, never at line ends; only a terminal gets the buffer written out at
// the end of every statement. Every failed write ends the run.
struct OutputPage {
  int Fd = -1;
  bool IsTerminal = false;
  // What the page's file is: no list file may be read back from it.
  FileFacts Facts;
  size_t Used = 0;
  char Buffer[kPageBlockSize];
};

// The page on the open descriptor `fd`; a descriptor the system tells
// nothing of is taken for no regular file.
void StartPage(OutputPage& page, int fd);

// Adds bytes to the page and writes each block that they fill.
void FillPageBlocks(OutputPage& page, const char* bytes, size_t count);

// Adds bytes to the page; each full block is written at once.
inline void PutPageBytes(OutputPage& page, const char* bytes, size_t count) {
  // Most puts are short and leave the block under way unfilled.
  if (count < kPageBlockSize - page.Used) {
    std::memcpy(page.Buffer + page.Used, bytes, count);
    page.Used += count;
  } else {
    FillPageBlocks(page, bytes, count);
  }
}

inline void PutPageText(OutputPage& page, std::string_view bytes) {
  PutPageBytes(page, bytes.data(), bytes.size());
}

// Writes out what the buffer holds.
void WriteOutPage(OutputPage& page);

// Ends a write statement: on a terminal the buffer is written out.
inline void EndPageStatement(OutputPage& page) {
  if (page.IsTerminal) WriteOutPage(page);
}

// Writes `line` and LF as one statement.
void WritePageLine(OutputPage& page, std::string_view line);

// Writes out the rest of the buffer and closes the page (standard output is
// left open); a failed write or close ends the run.
void ClosePage(OutputPage& page);

#endif  // LISTING_OUTPUT_PAGE_H_
