#ifndef LISTING_ENTRY_EXPANSION_H_
#define LISTING_ENTRY_EXPANSION_H_

#include "board/board_files.h"
#include "board/records.h"
#include "listing/output_page.h"
#include "text/short_text.h"

// Writes one entry-template line to the page with the first occurrence of
// each token ("@LNAME@", "@UNAME@", "@SIZEK@", "@SIZEB@", "@DESC@",
// "@PATH@", and the escaping "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@",
// "@UUNAME@", in any letter case) replaced by the record's data, then a line
// end. A token that starts inside one already replaced stays as it is. The
// description is read anew for "@DESC@" and "@HDESC@"; a failed read ends
// the run.
void ExpandEntryLine(const ShortText& line, const FileListRecord& record,
                     const ShortText& link_path, const DescriptionStore& store,
                     OutputPage& page);

#endif  // LISTING_ENTRY_EXPANSION_H_
