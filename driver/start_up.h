#ifndef DRIVER_START_UP_H_
#define DRIVER_START_UP_H_

#include "listing/run_state.h"
#include "listing/template_lines.h"

// Checks the command line and every input that can be checked before the
// page is written, filling `run` and opening the page template into
// `page_template`. Returns 0 when the run may go on, or the exit status (1)
// after the usage line or an "ERROR:" line on the console. A short
// korvel.dat ends the run, and so does an output path that names one of the
// run's inputs (5): no input is ever emptied or written.
int StartUp(int argc, char** argv, RunState& run,
            TemplateReader& page_template);

#endif  // DRIVER_START_UP_H_
