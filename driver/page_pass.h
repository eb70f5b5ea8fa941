#ifndef DRIVER_PAGE_PASS_H_
#define DRIVER_PAGE_PASS_H_

#include "listing/output_page.h"
#include "listing/run_state.h"
#include "listing/template_lines.h"
#include "text/short_text.h"

// The two fields of a list marker "<!--PELLIDOR:" base name "," link path
// "-->", taken from the line as read so that they keep their letter case.
struct ListMarker {
  ShortText BaseName;
  ShortText LinkPath;
};

// True when `line` holds the marker (in any letter case); its fields then go
// to `*marker`. A missing "," gives an empty base name, a missing "-->" an
// empty link path; nothing is trimmed.
bool FindListMarker(const ShortText& line, ListMarker* marker);

// Copies the page template to the page, a list in place of each marker line.
// A failed read or write ends the run. Templates read from standard input
// share its end through `input`.
void WritePage(const RunState& run, TemplateReader& page_template,
               OutputPage& page, StandardInput& input);

#endif  // DRIVER_PAGE_PASS_H_
