#ifndef LISTING_BASE_LIST_H_
#define LISTING_BASE_LIST_H_

#include <string_view>

#include "listing/output_page.h"
#include "listing/run_state.h"
#include "listing/template_lines.h"
#include "text/short_text.h"

// The path of a base's ".dir" or ".des" file, as the list opens it: the list
// directory, the base name and `extension` joined and cut to 255 bytes.
ShortText ListFilePath(const RunState& run, const ShortText& base_name,
                       std::string_view extension);

// Writes the list of the file base `base_name`: one entry per file of its
// ".dir" file not marked FLAG_EXCLUDED, from the entry template and the
// alternate one in turn, with "@PATH@" as `link_path` and the board's text
// rendered from `code_page`. A ".dir" file that cannot be opened gives an
// "ERROR: Unable to create list for " line in the page and the run goes on;
// every other failure ends the run, and so does a ".dir" or ".des" file that
// is the page itself (5). Entry templates read from standard input share its
// end through `input`.
void WriteBaseList(const RunState& run, OutputPage& page, StandardInput& input,
                   const ShortText& base_name, const ShortText& link_path,
                   CodePage code_page);

#endif  // LISTING_BASE_LIST_H_
