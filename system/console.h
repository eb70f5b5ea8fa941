#ifndef SYSTEM_CONSOLE_H_
#define SYSTEM_CONSOLE_H_

#include <string_view>

// The console layer between the program's messages and standard output.
// On a terminal it holds the terminal in raw mode for the whole run and ends
// lines with CR LF itself; elsewhere it writes the messages with LF and
// touches nothing. Errors in writing to the console are ignored.

// Saves a terminal's settings and switches it to raw mode; writes ESC "[m".
// SIGTERM, SIGHUP, SIGINT and SIGQUIT then restore the settings before the
// process dies of them.
void SetUpConsole();

// Writes `line` and a line end in one write.
void WriteConsoleLine(std::string_view line);

// Restores a terminal's saved settings. Safe to call more than once.
void TakeDownConsole();

#endif  // SYSTEM_CONSOLE_H_
