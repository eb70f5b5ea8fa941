// Runs the built program on a pseudo-terminal and checks the console layer:
// raw mode during the run, the bytes it writes, and the settings the
// terminal gets back at every end of the run.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "board/test_board.h"

namespace {

const std::string kGreeting =
    "\x1b[m\r\nPELLIDOR : Converts Korvel File Bases to HTML Listings\r\n"
    "  v1.0   : Compatible with Korvel v1.07.3\r\n\r\n";
const std::string kWorking = "- Working ... \r\n";

// A cooked terminal with a read minimum and time-out of its own.
struct termios Cooked() {
  struct termios settings = {};
  settings.c_iflag = BRKINT | ICRNL | IXON | ISTRIP;
  settings.c_oflag = OPOST | ONLCR;
  settings.c_cflag = CS8 | CREAD;
  settings.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  settings.c_cc[VMIN] = 3;
  settings.c_cc[VTIME] = 7;
  cfsetspeed(&settings, B38400);
  return settings;
}

// What a restore must give back exactly.
auto Key(const struct termios& t) {
  return std::make_tuple(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag,
                         std::string(t.c_cc, t.c_cc + NCCS));
}

// The addresses of a fatal error report become "#", its location lines one.
std::string Normalised(const std::string& output) {
  std::string text =
      std::regex_replace(output, std::regex("0x[0-9A-F]{8}"), "0x#");
  return std::regex_replace(text, std::regex("(  0x#\r\n)+"), "  0x#\r\n");
}

class ConsoleTest : public TempDirTest {
 protected:
  void TearDown() override {
    if (child_ > 0 && kill(child_, SIGKILL) == 0) waitpid(child_, nullptr, 0);
    if (master_ >= 0) close(master_);
    TempDirTest::TearDown();
  }

  // Reads the terminal's output until `text` has come, or to its end when
  // `text` is empty; false after 10 seconds without output.
  bool ReadUntil(const std::string& text) {
    struct pollfd ready = {master_, POLLIN, 0};
    char buffer[4096];
    while (text.empty() || output_.find(text) == std::string::npos) {
      if (poll(&ready, 1, 10000) <= 0) return false;
      ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return text.empty();  // EIO: the program's side is closed
      output_.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  // The settings of the program's side of the pseudo-terminal.
  struct termios Settings() const {
    struct termios settings = {};
    EXPECT_EQ(0, tcgetattr(master_, &settings));
    return settings;
  }

  pid_t child_ = -1;
  int master_ = -1;
  std::string output_;
};

TEST_F(ConsoleTest, RawWhileRunningAndRestoredAtEveryEnd) {
  WriteConfig();
  WriteBytes(Path("page"), "hello\n");
  WriteBytes(Path("entry"), "");
  mkdir(Path("short").c_str(), 0700);
  WriteBytes(Path("short/korvel.dat"), std::string(1823, '\0'));
  // A run whose page template is this FIFO waits in the page pass until the
  // test has looked at the terminal.
  ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  const std::vector<std::string> waiting = {".", "fifo", "entry", "NONE", "o"};
  struct Case {
    std::vector<std::string> Args;
    std::string Tail;  // after the greeting
    int Status;  // a waiting run gets this signal, or its page template
  };
  Case cases[] = {
      {{},
       "Usage: PELLIDOR [korvel_dir] [template 1] [template 2] [template 3] "
       "[output]\r\n",
       W_EXITCODE(1, 0)},
      {{"none", "page", "entry", "NONE", "o"},
       "ERROR: Unable to read KORVEL.DAT!\r\n", W_EXITCODE(1, 0)},
      // The report's LFs come out as CR LF: the cooked settings are back.
      {{"short", "page", "entry", "NONE", "o"},
       "Runtime error 100 at 0x#\r\n  0x#\r\n\r\n", W_EXITCODE(100, 0)},
      // The page does not pass through the console layer: its LF stays bare.
      {{".", "page", "entry", "NONE", ""}, kWorking + "hello\n", 0},
      {waiting, kWorking, 0},
      {waiting, kWorking, SIGTERM},
      {waiting, kWorking, SIGHUP},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.Tail + std::to_string(c.Status));
    int fifo = open(Path("fifo").c_str(), O_RDWR | O_CLOEXEC);
    struct termios cooked = Cooked();
    output_.clear();
    child_ = forkpty(&master_, nullptr, &cooked, nullptr);
    if (child_ == 0) {
      std::vector<char*> argv = {const_cast<char*>(PROGRAM)};
      for (std::string& arg : c.Args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      if (chdir(dir_.c_str()) == 0) execv(PROGRAM, argv.data());
      _exit(127);
    }
    if (c.Args == waiting) {
      ASSERT_TRUE(ReadUntil(kGreeting + kWorking)) << output_;
      struct termios raw = Settings();
      EXPECT_EQ((std::vector<unsigned>{0, 0, 0, CS8, 3, 7}),
                (std::vector<unsigned>{
                    raw.c_iflag & (BRKINT | ICRNL | IXON | ISTRIP),
                    raw.c_oflag & OPOST,
                    raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN),
                    raw.c_cflag & CSIZE, raw.c_cc[VMIN], raw.c_cc[VTIME]}));
      // The signal is handled before the program could read any further.
      if (c.Status != 0) kill(child_, c.Status);
      EXPECT_EQ(6, write(fifo, "hello\n", 6));
    }
    close(fifo);  // the end of the page template
    ASSERT_TRUE(ReadUntil("")) << "no end in time: " << output_;
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = -1;
    EXPECT_EQ(c.Status, status);
    EXPECT_EQ(kGreeting + c.Tail, Normalised(output_));
    EXPECT_EQ(Key(Cooked()), Key(Settings()));
    close(master_);
    master_ = -1;
  }
}

}  // namespace
