#ifndef SYSTEM_CONSOLE_H_
#define SYSTEM_CONSOLE_H_

#include <string_view>

// The console layer between the program's messages and standard output.
// On a terminal it holds the terminal in raw mode for the whole run and ends
// lines with CR LF itself; elsewhere it writes the messages with LF and
// touches nothing. Errors in writing to the console are ignored.

// Saves a terminal's settings and switches it to raw mode, writing ESC "[m".
// The settings are left alone, as for output that is no terminal, when
// `template_from_input` and standard input is a terminal (a person types the
// template there) or when the run is not in its terminal's foreground
// process group. In raw mode every signal that would end the process
// restores the settings first, on a stack of its own, and then ends it, and a stop restores them
// until the run is continued in the foreground.
void SetUpConsole(bool template_from_input);

// Writes `line` and a line end in one write. Only the first 253 bytes of a
// longer line are written; every message of the program is far shorter.
void WriteConsoleLine(std::string_view line);

// From now on no console line is written: standard output is a file that
// the run reads, which no message may change. Fatal reports are dropped too.
void SilenceConsole();

// Restores a terminal's saved settings and the signal actions of before.
// Safe to call more than once.
void TakeDownConsole();

#endif  // SYSTEM_CONSOLE_H_
