#ifndef LISTING_BASE_LIST_H_
#define LISTING_BASE_LIST_H_

#include "listing/output_page.h"
#include "listing/run_state.h"
#include "text/short_text.h"

// Writes the list of the file base `base_name`: one entry per file of its
// ".dir" file not marked FLAG_EXCLUDED, from the entry template and the
// alternate one in turn, with "@PATH@" as `link_path`. A ".dir" file that
// cannot be opened gives an "ERROR: Unable to create list for " line in the
// page and the run goes on; every other failure ends the run.
void WriteBaseList(const RunState& run, OutputPage& page,
                   const ShortText& base_name, const ShortText& link_path);

#endif  // LISTING_BASE_LIST_H_
