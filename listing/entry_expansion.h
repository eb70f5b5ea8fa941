#ifndef LISTING_ENTRY_EXPANSION_H_
#define LISTING_ENTRY_EXPANSION_H_

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

// Writes one entry-template line to the page with the first occurrence of
// each token (in any letter case) replaced by the entry's data, then a line
// end. A token that starts inside one already replaced stays as it is. The
// tokens copy the data as it is ("@LNAME@", "@UNAME@", "@NAME@", "@SIZEK@",
// "@SIZEB@", "@BYTES@", "@DESC@", "@PATH@"), escape it for HTML ("@HLNAME@",
// "@HUNAME@", "@HNAME@", "@HDESC@") or a link ("@ULNAME@", "@UUNAME@",
// "@URLNAME@"), or render the board's text for HTML ("@TNAME@", "@TDESC@")
// or a JSON string ("@JNAME@", "@JDESC@"). Each description token reads the
// description anew, whole, before writing it; a failed read ends the run.
void ExpandEntryLine(const ShortText& line, const Entry& entry);

#endif  // LISTING_ENTRY_EXPANSION_H_
