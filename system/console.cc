#include "system/console.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "system/file_io.h"

namespace {

// Set once by SetUpConsole; afterwards only read, by the signal handler too.
struct ConsoleState {
  bool Raw = false;
  struct termios Saved;
};

ConsoleState console_state;

constexpr int kRestoringSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

void RestoreTerminal() {
  while (tcsetattr(kStandardOutput, TCSANOW, &console_state.Saved) != 0 &&
         errno == EINTR) {
  }
}

// Gives the terminal its settings back, then dies of the same signal.
void DieRestored(int signal_number) {
  RestoreTerminal();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
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

void WriteIgnoringErrors(const char* bytes, size_t count) {
  (void)WriteAll(kStandardOutput, bytes, count);
}

}  // namespace

void SetUpConsole() {
  if (tcgetattr(kStandardOutput, &console_state.Saved) != 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = DieRestored;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kRestoringSignals) {
    sigaddset(&action.sa_mask, signal_number);
  }
  for (int signal_number : kRestoringSignals) {
    ::sigaction(signal_number, &action, nullptr);
  }
  struct termios raw = RawSettings(console_state.Saved);
  if (tcsetattr(kStandardOutput, TCSANOW, &raw) != 0) return;
  console_state.Raw = true;
  WriteIgnoringErrors("\x1b[m", 3);
}

void WriteConsoleLine(std::string_view line) {
  // Messages are short; a longer one goes out in 1024-byte pieces.
  char buffer[1024];
  std::string_view end = console_state.Raw ? "\r\n" : "\n";
  size_t used = 0;
  auto put = [&](std::string_view bytes) {
    for (char c : bytes) {
      if (used == sizeof buffer) {
        WriteIgnoringErrors(buffer, used);
        used = 0;
      }
      buffer[used++] = c;
    }
  };
  put(line);
  put(end);
  WriteIgnoringErrors(buffer, used);
}

void TakeDownConsole() {
  if (!console_state.Raw) return;
  RestoreTerminal();
  for (int signal_number : kRestoringSignals) ::signal(signal_number, SIG_DFL);
}
