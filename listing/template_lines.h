#ifndef LISTING_TEMPLATE_LINES_H_
#define LISTING_TEMPLATE_LINES_H_

#include <cstddef>

#include "text/short_text.h"

// Bytes of a template asked for in one read; small in the fuzz build.
#ifndef PELLIDOR_TEMPLATE_BUFFER_SIZE
#define PELLIDOR_TEMPLATE_BUFFER_SIZE 16384
#endif
inline constexpr size_t kTemplateBufferSize = PELLIDOR_TEMPLATE_BUFFER_SIZE;

// A template read forward one line at a time. A line ends at LF, CR LF or a
// CR that no LF follows; lines longer than 255 bytes are cut and the rest of
// the line is skipped. No other byte is special.
struct TemplateReader {
  int Fd = -1;
  bool Regular = false;  // a short read of a regular file is its end
  bool AtEnd = false;
  size_t At = 0;
  size_t Filled = 0;
  char Buffer[kTemplateBufferSize];
};

// Opens the template at `path` (standard input when empty) and notes whether
// it is a regular file. A directory is refused (5).
int OpenTemplate(const ShortText& path, TemplateReader& reader);

// Opens the template at `path` again, from its first byte, taking `regular`
// from the first open; a directory then fails at the first read (5).
int ReopenTemplate(const ShortText& path, bool regular, TemplateReader& reader);

// The next line into `*line`; `*has_line` is false at the end of the
// template. Returns 0 or the error number of a failed read.
int ReadTemplateLine(TemplateReader& reader, ShortText* line, bool* has_line);

// The next line into `*line`, or false at the end of the template; a failed
// read ends the run.
bool NextTemplateLine(TemplateReader& reader, ShortText* line);

// Closes the template unless it is standard input.
void CloseTemplate(TemplateReader& reader);

#endif  // LISTING_TEMPLATE_LINES_H_
