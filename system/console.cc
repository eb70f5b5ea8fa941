#include "system/console.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "system/file_io.h"
#include "text/short_text.h"

namespace {

// The handlers' own stack: a run that overflows its stack still gets its
// terminal back, as the handler then has room to run.
constexpr size_t kHandlerStackSize = 128 * 1024;

// Set once by SetUpConsole; afterwards only read, by the signal handlers
// too.
struct ConsoleState {
  bool SwitchedToRaw = false;  // by SetUpConsole, which has to be undone
  bool Silent = false;         // by SilenceConsole
  struct termios Saved;
  struct termios Raw;
  sigset_t Ending;                  // signals that end the process by default
  sigset_t Handled;                 // those, the stop signals and SIGCONT
  struct sigaction Previous[NSIG];  // each handled signal's earlier action
  stack_t PreviousStack;            // the alternate stack of before, if any
  alignas(16) char HandlerStack[kHandlerStackSize];
};

ConsoleState console_state;

// True while the terminal holds the raw settings. Unlike the rest of the
// state it changes during the run: a stop gives the terminal back and a
// continue in the foreground takes it again. Handlers run with every
// handled signal blocked, and TakeDownConsole blocks them too, so it never
// changes under a reader's hands.
volatile sig_atomic_t terminal_raw = 0;

// Catchable signals whose default action ends the process; SIGPIPE and
// SIGXFSZ are not here, as every run ignores them and fails the write.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM,   SIGTERM,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
    SIGXCPU,   SIGIO,   SIGSYS,  SIGPROF, SIGVTALRM,
#ifdef SIGPWR
    SIGPWR,
#endif
};

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// A fault from the processor, which comes again at the same instruction.
bool IsFault(int signal_number, const siginfo_t* info) {
  // The kernel's own signals have a positive code; kill and raise do not.
  return info->si_code > 0 &&
         (signal_number == SIGSEGV || signal_number == SIGBUS ||
          signal_number == SIGILL || signal_number == SIGFPE);
}

// Lets `signal_number` through, blocked as it is while its handler runs.
void UnblockOne(int signal_number) {
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
}

// Gives standard output's terminal `settings`; a signal is no failure.
void SetTerminal(const struct termios& settings) {
  RepeatOnSignal(
      [&] { return tcsetattr(kStandardOutput, TCSANOW, &settings); });
}

// Gives the terminal its saved settings back if it is raw. Called with the
// handled signals blocked, SIGTTOU among them, so that a run moved to the
// background still restores instead of stopping.
void RestoreTerminal() {
  if (!terminal_raw) return;
  SetTerminal(console_state.Saved);
  terminal_raw = 0;
}

// Whether a change of the terminal's settings would stop the run: a group
// that is not the foreground one gets SIGTTOU. A terminal that is not the
// controlling one (no group at all) stops nobody.
bool InBackground() {
  pid_t foreground = tcgetpgrp(kStandardOutput);
  return foreground != -1 && foreground != getpgrp();
}

// Takes the terminal again after a stop, when the run is in the foreground;
// in the background the terminal belongs to someone else.
void TakeTerminalAgain() {
  if (InBackground()) {
    terminal_raw = 0;
    return;
  }
  terminal_raw = 1;
  SetTerminal(console_state.Raw);
}

// Restores the terminal, then puts back the earlier action and ends the
// process by the same signal. The earlier action is the default, or the
// handler of a sanitizer, which then writes its report.
void EndRestored(int signal_number, siginfo_t* info, void*) {
  RestoreTerminal();
  ::sigaction(signal_number, &console_state.Previous[signal_number], nullptr);
  // Returning runs the faulting instruction again, so the earlier action
  // sees the fault itself rather than a copy without its address.
  if (IsFault(signal_number, info)) return;
  ::raise(signal_number);
  UnblockOne(signal_number);
}

// A run continued in the foreground takes the terminal again, also after a
// SIGSTOP, which no handler sees.
void ContinueRaw(int) {
  int saved_errno = errno;
  TakeTerminalAgain();
  errno = saved_errno;
}

// Installs `handler` or `action` for `signal_number` with every handled
// signal blocked while it runs.
void Install(int signal_number, void (*handler)(int),
             void (*action)(int, siginfo_t*, void*)) {
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_mask = console_state.Handled;
  ours.sa_flags = SA_RESTART | SA_ONSTACK;
  if (action != nullptr) {
    ours.sa_flags |= SA_SIGINFO;
    ours.sa_sigaction = action;
  } else {
    ours.sa_handler = handler;
  }
  ::sigaction(signal_number, &ours, nullptr);
}

// Gives the terminal back and stops by the same signal; when the run goes
// on, takes the terminal again. In an orphaned process group the system
// drops the stop, and the run goes straight on.
void StopRestored(int signal_number) {
  int saved_errno = errno;
  bool was_raw = terminal_raw;
  RestoreTerminal();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
  UnblockOne(signal_number);  // the process stops here
  Install(signal_number, StopRestored, nullptr);
  if (was_raw) TakeTerminalAgain();
  errno = saved_errno;
}

// Raw mode: no input or output processing, no echo, no line editing, no
// signal keys, 8-bit characters. The read minimum and time-out are kept.
struct termios RawSettings(const struct termios& saved) {
  struct termios raw = saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP |
                                        INLCR | IGNCR | ICRNL | IXON);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  return raw;
}

// Fills the signal sets: the real-time signals are known only at run time.
void CollectSignals() {
  sigemptyset(&console_state.Ending);
  for (int signal_number : kEndingSignals) {
    sigaddset(&console_state.Ending, signal_number);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX;
       ++signal_number) {
    sigaddset(&console_state.Ending, signal_number);
  }
  console_state.Handled = console_state.Ending;
  for (int signal_number : kStopSignals) {
    sigaddset(&console_state.Handled, signal_number);
  }
  sigaddset(&console_state.Handled, SIGCONT);
}

// Gives the handlers a stack of their own, keeping the one of before.
// Without it they run on the process's stack as before.
void UseHandlerStack() {
  stack_t ours;
  ours.ss_sp = console_state.HandlerStack;
  ours.ss_size = sizeof console_state.HandlerStack;
  ours.ss_flags = 0;
  if (::sigaltstack(&ours, &console_state.PreviousStack) != 0) {
    // Then putting back the stack of before changes nothing.
    ::sigaltstack(nullptr, &console_state.PreviousStack);
  }
}

// Installs the handlers, keeping each earlier action. A signal ignored when
// the run started (SIGHUP under nohup, say) stays ignored.
void InstallHandlers() {
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&console_state.Handled, signal_number) != 1) continue;
    struct sigaction& previous = console_state.Previous[signal_number];
    ::sigaction(signal_number, nullptr, &previous);
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) {
      continue;
    }
    if (sigismember(&console_state.Ending, signal_number) == 1) {
      Install(signal_number, nullptr, EndRestored);
    } else if (signal_number == SIGCONT) {
      Install(signal_number, ContinueRaw, nullptr);
    } else {
      Install(signal_number, StopRestored, nullptr);
    }
  }
}

// Puts back the actions that were there before InstallHandlers.
void RemoveHandlers() {
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&console_state.Handled, signal_number) != 1) continue;
    ::sigaction(signal_number, &console_state.Previous[signal_number], nullptr);
  }
}

// A message line's bytes that fit in a ShortText with a CR LF after them.
constexpr size_t kConsoleLineLimit = kShortTextCapacity - 2;

// ESC "[m": the terminal's default colours, and plain characters.
constexpr std::string_view kPlainColours = "\x1b[m";

// Messages that cannot be written are lost without a word.
void WriteIgnoringErrors(const char* bytes, size_t count) {
  (void)WriteAll(kStandardOutput, bytes, count);
}

}  // namespace

void SetUpConsole(bool template_from_input) {
  // Raw mode would take line editing, ^D and ^C from the person typing.
  if (template_from_input && IsTerminal(kStandardInput)) return;
  if (tcgetattr(kStandardOutput, &console_state.Saved) != 0) return;
  // Changing the settings from the background would stop the run.
  if (InBackground()) return;
  console_state.Raw = RawSettings(console_state.Saved);
  CollectSignals();
  // The handlers go in first, so that no signal finds the terminal raw
  // without them; until the switch they restore settings that are in force.
  UseHandlerStack();
  InstallHandlers();
  terminal_raw = 1;
  if (tcsetattr(kStandardOutput, TCSANOW, &console_state.Raw) != 0) {
    terminal_raw = 0;
    RemoveHandlers();
    ::sigaltstack(&console_state.PreviousStack, nullptr);
    return;
  }
  console_state.SwitchedToRaw = true;
  WriteIgnoringErrors(kPlainColours.data(), kPlainColours.size());
}

void SilenceConsole() { console_state.Silent = true; }

void WriteConsoleLine(std::string_view line) {
  if (console_state.Silent) return;
  ShortText with_end = MakeShortText(line, kConsoleLineLimit);
  AppendText(with_end, terminal_raw ? "\r\n" : "\n");
  WriteIgnoringErrors(with_end.Bytes, with_end.Length);
}

void TakeDownConsole() {
  if (!console_state.SwitchedToRaw) return;
  // No handler may run halfway through; signals that come meanwhile wait
  // and then find the earlier actions.
  sigset_t before;
  ::sigprocmask(SIG_BLOCK, &console_state.Handled, &before);
  RestoreTerminal();
  RemoveHandlers();
  ::sigaltstack(&console_state.PreviousStack, nullptr);
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
}
