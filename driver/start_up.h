#ifndef DRIVER_START_UP_H_
#define DRIVER_START_UP_H_

#include "driver/output_checks.h"
#include "listing/run_state.h"
#include "listing/template_lines.h"

// Takes the command line's five arguments into `run`, each cut to 254
// bytes; false when there are not exactly five.
bool TakeArguments(int argc, char** argv, RunState& run);

// The exit status of a run that ends with the usage line or an "ERROR:" line
// at start-up, and of an answer that could not be written.
inline constexpr int kRefusedStatus = 1;
// What AnswerHelpOrVersion gives for a command line that asks neither.
inline constexpr int kNoAnswer = -1;

// When the command line is the one argument "--help" or "--version",
// writes the usage text or the version line to standard output, touching
// nothing else, and gives the exit status: 0, or kRefusedStatus when the
// write failed. kNoAnswer for every other command line.
int AnswerHelpOrVersion(int argc, char** argv);

// Whether a template of the run is read from standard input: an empty
// argument 2, 3 or 4 (when that is not "NONE").
bool ReadsStandardInput(const RunState& run);

// Opens the inputs, greets, then checks the command line (`arguments_taken`,
// as TakeArguments told) and every input that can be checked before the page
// is opened: completes `run`, opens the page template into `page_template`,
// which shares standard input's end through `input`, and notes in `inputs`
// what each input is, for OpenPage. Returns 0 when the run may go on, or
// kRefusedStatus after the usage line or an "ERROR:" line on the console. A
// short korvel.dat ends the run. Standard output that is one of the run's
// inputs gets no message.
int StartUp(bool arguments_taken, RunState& run,
            TemplateReader& page_template, StandardInput& input,
            RunInputs& inputs);

#endif  // DRIVER_START_UP_H_
