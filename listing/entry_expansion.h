#ifndef LISTING_ENTRY_EXPANSION_H_
#define LISTING_ENTRY_EXPANSION_H_

#include <cstdint>

#include "board/board_files.h"
#include "board/records.h"
#include "listing/output_page.h"
#include "text/code_pages.h"
#include "text/short_text.h"

// What one listed file's entry is written from, and the page it goes to.
struct Entry {
  const FileListRecord& Record;
  const ShortText& LinkPath;  // "@PATH@"
  const DescriptionStore& Store;
  CodePage BoardCodePage;  // the code page of the list's names and texts
  OutputPage& Page;
};

// A token to replace in a line: where it starts and which it is.
struct TokenPlace {
  uint8_t Position;
  uint8_t Row;
};

// No line holds more tokens to replace than there are tokens.
inline constexpr int kMostLineTokens = 32;

// The tokens to replace in one entry-template line, kept with the line.
// An entry template is read anew for every listed file and its lines come
// back the same, so a line equal to the one kept takes its tokens from here:
// comparing a line costs about 30 instructions, finding its tokens anew
// about 350 (callgrind, on lines of one to three tokens).
struct LineTokens {
  ShortText Line;  // at first the empty line, which holds no token
  int Count = 0;
  TokenPlace Places[kMostLineTokens];
};

// Writes one entry-template line to the page with the first occurrence of
// each token (in any letter case) replaced by the entry's data, then a line
// end; `tokens` holds the line's tokens, found anew when it holds another
// line. A token that starts inside one already replaced stays as it is. The
// tokens copy the data as it is ("@LNAME@", "@UNAME@", "@NAME@", "@SIZEK@",
// "@SIZEB@", "@BYTES@", "@DESC@", "@PATH@"), escape it for HTML ("@HLNAME@",
// "@HUNAME@", "@HNAME@", "@HDESC@") or a link ("@ULNAME@", "@UUNAME@",
// "@URLNAME@"), or render the board's text for HTML ("@TNAME@", "@TDESC@")
// or a JSON string ("@JNAME@", "@JDESC@"). Each description token reads the
// description anew, whole, before writing it; a failed read ends the run.
void ExpandEntryLine(const ShortText& line, LineTokens& tokens,
                     const Entry& entry);

// Writes the first `count` lines that `lines` holds, as ExpandEntryLine
// would.
void ExpandKeptLines(const LineTokens* lines, int count, const Entry& entry);

#endif  // LISTING_ENTRY_EXPANSION_H_
