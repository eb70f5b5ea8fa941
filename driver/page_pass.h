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

// The name that a code-page line "<!--PELLIDOR-CODEPAGE:" name "-->" gives,
// when `line` is one: a line that holds no list marker but holds that text
// (in any letter case). The name runs to the first "-->" after it, or to the
// line's end; nothing is trimmed.
bool FindCodePageLine(const ShortText& line, ShortText* name);

// Copies the page template to the page, a list in place of each marker line.
// A code-page line writes nothing and sets the code page of the lists after
// it: an empty name goes back to the run's, an unknown one leaves it as it
// is and writes an "ERROR: Unknown code page " line.
// A failed read or write ends the run. Templates read from standard input
// share its end through `input`.
void WritePage(const RunState& run, TemplateReader& page_template,
               OutputPage& page, StandardInput& input);

#endif  // DRIVER_PAGE_PASS_H_
