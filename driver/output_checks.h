#ifndef DRIVER_OUTPUT_CHECKS_H_
#define DRIVER_OUTPUT_CHECKS_H_

#include "listing/run_state.h"
#include "listing/template_lines.h"
#include "system/file_io.h"

// The files that a run opens before the page: korvel.dat and the templates.
inline constexpr int kMostInputs = 4;

// What each input of the run is, to tell the output apart from them.
struct RunInputs {
  FileFacts Files[kMostInputs];
  int Count = 0;
  bool ConfigRead = false;  // so that the list directory is known
};

// Opens the page into `*page_fd` (standard output for an empty name) and
// empties a regular file, once the open file is known to be none of the
// run's inputs: one of `inputs`, a list file of the list directory, or one
// that a marker of `page_template` names. The file that is checked is the
// file that is written. An input as the output ends the run with 5, a failed
// open, look or emptying with its error, all before a byte is emptied. A page
// template that is no regular file is first read into memory when the output
// exists, so that its markers are checked too; one too long to hold ends the
// run with 5.
void OpenPage(const RunState& run, const RunInputs& inputs,
              TemplateReader& page_template, int* page_fd);

// Whether standard output is a regular file that the run reads, so that no
// console byte may go to it: one of `inputs`, opened before a failure or
// not, or, once korvel.dat is read, a list file. A page template whose read
// ahead fails may name it further on, so it counts as one. Writes nothing:
// a read that fails again as the page is made ends the run there.
bool StandardOutputIsInput(const RunState& run, const RunInputs& inputs,
                           TemplateReader& page_template);

#endif  // DRIVER_OUTPUT_CHECKS_H_
