#ifndef SYSTEM_FATAL_H_
#define SYSTEM_FATAL_H_

// Ends the run after an unguarded I/O failure: takes the console layer down,
// writes the "Runtime error" report with the failing call's location and its
// callers' to standard output, and exits with `code`. Nothing is flushed or
// closed: the output page keeps only the blocks already written.
[[noreturn]] void FatalIoError(int code);

#endif  // SYSTEM_FATAL_H_
