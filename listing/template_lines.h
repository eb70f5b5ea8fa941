#ifndef LISTING_TEMPLATE_LINES_H_
#define LISTING_TEMPLATE_LINES_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "system/file_io.h"
#include "text/short_text.h"

// Bytes of a template asked for in one read; small in the fuzz build.
#ifndef PELLIDOR_TEMPLATE_BUFFER_SIZE
#define PELLIDOR_TEMPLATE_BUFFER_SIZE 16384
#endif
inline constexpr size_t kTemplateBufferSize = PELLIDOR_TEMPLATE_BUFFER_SIZE;

// Standard input, as every template read from it shares it: once one of
// them has read it to its end it stays there, so that a person at a terminal
// ends the input once for the whole run.
struct StandardInput {
  bool Ended = false;
};

// A template read forward one line at a time. A line ends at LF, CR LF or a
// CR that no LF follows; lines longer than 255 bytes are cut and the rest of
// the line is skipped. No other byte is special.
struct TemplateReader {
  int Fd = -1;
  // A regular file of a known size ends at a short read once that size has
  // been read; anything else is read until a read gives nothing.
  bool Regular = false;
  int64_t Size = 0;       // the size when the template was first opened
  int64_t BytesRead = 0;  // since this open
  bool AtEnd = false;
  StandardInput* Input = nullptr;  // when the template is standard input
  // A template read ahead into memory by CopyTemplate is read from there.
  const char* Copy = nullptr;
  size_t CopySize = 0;
  size_t CopyAt = 0;
  size_t At = 0;
  size_t Filled = 0;
  char Buffer[kTemplateBufferSize];
};

// Opens the template at `path` (standard input when empty, sharing its end
// through `input` when given) and, when `facts` is given, tells what it is.
// A directory is refused (5).
int OpenTemplate(const ShortText& path, TemplateReader& reader,
                 FileFacts* facts = nullptr, StandardInput* input = nullptr);

// Opens the template at `path` again, from its first byte, with the `facts`
// of its first open and no fstat; a directory then fails at the first read
// (5).
int ReopenTemplate(const ShortText& path, const FileFacts& facts,
                   TemplateReader& reader, StandardInput* input = nullptr);

// The most bytes of a template that CopyTemplate holds.
inline constexpr size_t kMostTemplateCopy = 1024 * 1024;

// Reads the rest of the open template, one that is no regular file, into
// memory, from where it is read from then on and can be read again; at most
// kMostTemplateCopy bytes, `*too_long` telling of more. Standard input read so
// is at its end for every other template. Returns 0 or the error number of a
// failed read.
int CopyTemplate(TemplateReader& reader, bool* too_long);

// Whether the template can be read ahead and then taken back: a regular file,
// or one held in memory.
bool CanRestartTemplate(const TemplateReader& reader);

// Where the open template stands in its file, before its first read; with
// RestartTemplate a regular file can be read ahead and then from there again.
int TemplateOffset(const TemplateReader& reader, int64_t* offset);

// Takes the template back to `offset` in its file, as if just opened there.
int RestartTemplate(TemplateReader& reader, int64_t offset);

// Reads the first buffer full of the template just opened; `*whole` is then
// its bytes when they are all of it (a regular file that ended within them,
// not standard input nor a copy), and empty otherwise. Returns 0 or the error
// number of a failed read.
int FillTemplate(TemplateReader& reader, std::string_view* whole);

// The next line into `*line`; `*has_line` is false at the end of the
// template. Returns 0 or the error number of a failed read.
int ReadTemplateLine(TemplateReader& reader, ShortText* line, bool* has_line);

// Closes the template unless it is standard input.
void CloseTemplate(TemplateReader& reader);

#endif  // LISTING_TEMPLATE_LINES_H_
