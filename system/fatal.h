#ifndef SYSTEM_FATAL_H_
#define SYSTEM_FATAL_H_

// Ends the run after an unguarded I/O failure: takes the console layer down,
// writes the "Runtime error" report with the failing call's location and its
// callers' to standard output, and exits with `code`. Nothing is flushed or
// closed: the output page keeps only the blocks already written. Call it as
// FatalIoError(code) on the line of the call that failed: the report's first
// location is that line.
#if defined(__GNUC__)
// Each call of FatalIoError is a place of its own in the program. A compiler
// may fold calls that look alike (the same argument in the same register)
// into one, and the report would then name one line for both; so after each
// call stands a mark that holds its own line and counter. The compiler must
// keep the mark since, as far as it knows, the call returns; and no two
// calls share what follows them, so none can stand in for another.
void ReportFatalIoError(int code) __attribute__((cold));
#define FatalIoError(code)                                             \
  do {                                                                 \
    ReportFatalIoError(code);                                          \
    __asm__ __volatile__("" : : "i"(__LINE__), "i"(__COUNTER__) : "memory"); \
    __builtin_unreachable();                                           \
  } while (0)
#else
// Another compiler gets the plain call.
[[noreturn]] void ReportFatalIoError(int code);
#define FatalIoError(code) ReportFatalIoError(code)
#endif

#endif  // SYSTEM_FATAL_H_
