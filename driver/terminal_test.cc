// Runs the built program on a pseudo-terminal, as a job of a small shell of
// the test's own, and checks what signals, stops, a person typing and the
// background do to the terminal's settings.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_board.h"

namespace {

using Args = std::vector<std::string>;
using Settings = std::vector<unsigned>;

// The SigIgn line of /proc/PID/status for a job that ignores SIGPIPE and
// SIGXFSZ, as every run does, and SIGUSR2, as its start gave it.
std::string IgnoredMask() {
  uint64_t mask = 0;
  for (int ignored : {SIGPIPE, SIGXFSZ, SIGUSR2}) mask |= 1ull << (ignored - 1);
  char text[17];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(mask));
  return text;
}

// The settings the tests give the terminal, and raw mode made of them: the
// read minimum 3 and time-out 7 must survive both ways.
const Settings kCooked = {ICRNL | IXON, OPOST, ICANON | ECHO | ISIG | IEXTEN, 3,
                          7};
const Settings kRaw = {0, 0, 0, 3, 7};
const std::string kHello =
    "\r\nPELLIDOR : Converts Korvel File Bases to HTML Listings\r\n"
    "  v1.0   : Compatible with Korvel v1.07.3\r\n\r\n";
const std::string kGreeting = kHello + "- Working ... \r\n";

// The test is a shell: the child of forkpty leads the terminal's session
// and runs the program as a job in a process group of its own, in the
// foreground or not, and sends each of its wait statuses up a pipe. Unlike
// a session leader, such a job can be stopped.
class TerminalTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (UnderEmulation()) {
      GTEST_SKIP() << "qemu-user does not drive a pseudo-terminal alike on "
                      "every machine: under qemu-i386 the runs never end";
    }
    WriteConfig();
    WriteBytes(Path("page"), "hello\n");
    WriteBytes(Path("entry"), "");
    // A page template that is this FIFO holds the run in the page pass
    // until the test closes its end.
    ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  }

  void TearDown() override {
    EndJob();
    if (fifo_ >= 0) close(fifo_);
    TempDirTest::TearDown();
  }

  // Starts the program with `args` in dir_, its page bounded to `limit`
  // bytes. False if the job did not start in time.
  bool Start(const Args& args, bool foreground = true, rlim_t limit = 1 << 20) {
    // Held open, the FIFO has a writer, so the run's open does not wait.
    if (fifo_ < 0) fifo_ = open(Path("fifo").c_str(), O_RDWR | O_CLOEXEC);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    shell_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (shell_ == 0) RunShell(args, foreground, limit, report[1]);
    close(report[1]);
    report_ = report[0];
    return shell_ > 0 && Next(&job_, sizeof job_);
  }

  // The job's next wait status, or -1 when none comes within 10 s.
  int NextStatus() {
    int status = -1;
    if (!Next(&status, sizeof status)) return -1;
    if (WIFEXITED(status) || WIFSIGNALED(status)) job_ = -1;  // reaped
    return status;
  }

  // Takes in what the terminal still holds, once the job has ended.
  void Drain() {
    while (Pump(-1, 2000)) {
    }
  }

  // Writes `bytes` as if typed at the terminal.
  void Type(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
              write(master_, bytes.data(), bytes.size()));
  }

  // Ends the page template: the run then ends too.
  void EndFifo(const std::string& last_bytes = "") {
    WriteBytes(Path("fifo"), last_bytes);
    close(fifo_);
    fifo_ = -1;
  }

  // Reads the terminal until `text` appeared or 10 s passed.
  bool OutputUntil(const std::string& text) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end || !Pump(report_, 100)) {
        return output_.find(text) != std::string::npos;
      }
    }
    return true;
  }

  Settings Now() const {
    struct termios now = {};
    tcgetattr(master_, &now);
    return {now.c_iflag & (ICRNL | IXON), now.c_oflag & OPOST,
            now.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), now.c_cc[VMIN],
            now.c_cc[VTIME]};
  }

  // Waits up to 10 s for the terminal to hold `settings`.
  bool SettingsBecome(const Settings& settings) {
    for (int i = 0; i < 100 && Now() != settings; ++i) usleep(100000);
    return Now() == settings;
  }

  // Kills and reaps whatever still runs; starts the next output afresh.
  void EndJob() {
    output_.clear();
    if (job_ > 0) kill(job_, SIGKILL);
    // The shell reaps the job and ends; it is killed only if it does not.
    for (int i = 0; shell_ > 0 && i < 100; ++i) {
      if (waitpid(shell_, nullptr, WNOHANG) == shell_) shell_ = -1;
      if (shell_ > 0) usleep(20000);
    }
    if (shell_ > 0) {
      kill(shell_, SIGKILL);
      waitpid(shell_, nullptr, 0);
    }
    for (int* fd : {&master_, &report_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    job_ = shell_ = -1;
  }

  int fifo_ = -1;
  pid_t job_ = -1;
  std::string output_;

 private:
  [[noreturn]] void RunShell(const Args& args, bool foreground, rlim_t limit,
                             int report) {
    // The shell never execs: a FIFO writer it kept would hold the run.
    if (fifo_ >= 0) close(fifo_);
    struct termios settings;
    tcgetattr(0, &settings);
    settings.c_cc[VMIN] = 3;
    settings.c_cc[VTIME] = 7;
    tcsetattr(0, TCSANOW, &settings);
    int go[2];
    if (pipe(go) != 0) _exit(127);
    pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      close(go[1]);
      char ignored;
      (void)read(go[0], &ignored, 1);  // until the shell has placed the job
      signal(SIGUSR2, SIG_IGN);        // as nohup does with SIGHUP
      struct rlimit bound = {limit, limit};
      setrlimit(RLIMIT_FSIZE, &bound);
      std::vector<char*> argv = {const_cast<char*>(PROGRAM)};
      for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
      }
      argv.push_back(nullptr);
      if (chdir(dir_.c_str()) == 0) execv(PROGRAM, argv.data());
      _exit(127);
    }
    setpgid(job, job);
    if (foreground) tcsetpgrp(0, job);
    close(go[1]);
    (void)write(report, &job, sizeof job);
    for (int status; waitpid(job, &status, WUNTRACED | WCONTINUED) == job;) {
      (void)write(report, &status, sizeof status);
      if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    }
    _exit(0);
  }

  // Waits up to `ms` for the shell's pipe `fd` (-1 for none) or the
  // terminal; takes in what the terminal wrote. False when nothing came or
  // the terminal is closed.
  bool Pump(int fd, int ms) {
    pollfd ready[2] = {{master_, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(ready, 2, ms) <= 0) return false;
    if (ready[0].revents == 0) return true;
    char buffer[4096];
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) output_.append(buffer, static_cast<size_t>(got));
    return got > 0 || ready[1].revents != 0;
  }

  // Reads `size` bytes from the shell's pipe within 10 s.
  bool Next(void* into, size_t size) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      pollfd ready = {report_, POLLIN, 0};
      if (poll(&ready, 1, 0) > 0) {
        return read(report_, into, size) == static_cast<ssize_t>(size);
      }
      Pump(report_, 100);
    }
    return false;
  }

  pid_t shell_ = -1;
  int master_ = -1;
  int report_ = -1;
};

// A run that ends by itself gives the settings back; the page on the
// terminal passes as it is, with LF alone.
TEST_F(TerminalTest, EveryEndGivesTheSettingsBack) {
  const std::pair<std::string, int> rows[] = {
      {"none", 1},
      {".", 0},
  };
  for (const auto& [board, status] : rows) {
    SCOPED_TRACE(board);
    ASSERT_TRUE(Start({board, "page", "entry", "NONE", ""}));
    EXPECT_EQ(status << 8, NextStatus());
    EXPECT_EQ(kCooked, Now());
    Drain();
    EXPECT_EQ("\x1b[m" + kHello +
                  (status == 0 ? "- Working ... \r\nhello\n"
                               : "ERROR: Unable to read KORVEL.DAT!\r\n"),
              output_);
    EndJob();
  }
}

TEST_F(TerminalTest, SignalsEndTheRunWithTheSettingsRestored) {
  for (int signal_number : {SIGTERM, SIGUSR1, SIGALRM, SIGRTMIN + 1, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    ASSERT_TRUE(Start({".", "fifo", "entry", "NONE", "out"}));
    ASSERT_TRUE(OutputUntil("Working")) << output_;
    EXPECT_EQ(kRaw, Now());
    // Ignored when the run started, it stays so, as SIGHUP under nohup.
    EXPECT_NE(std::string::npos,
              ReadBytes("/proc/" + std::to_string(job_) + "/status")
                  .find("SigIgn:\t" + IgnoredMask()));
    kill(job_, signal_number);
    int status = NextStatus();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
        << status;
    EXPECT_EQ(kCooked, Now());
    Drain();
    EXPECT_EQ("\x1b[m" + kGreeting, output_);
    EndJob();
  }
}

TEST_F(TerminalTest, StopGivesTheSettingsBackAndContinueTakesThemAgain) {
  for (int signal_number : {SIGTSTP, SIGTTOU}) {
    SCOPED_TRACE(signal_number);
    ASSERT_TRUE(Start({".", "fifo", "entry", "NONE", "out"}));
    ASSERT_TRUE(OutputUntil("Working")) << output_;
    kill(job_, signal_number);
    int status = NextStatus();
    EXPECT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == signal_number)
        << status;
    EXPECT_EQ(kCooked, Now());
    kill(job_, SIGCONT);
    EXPECT_TRUE(WIFCONTINUED(NextStatus()));
    EXPECT_TRUE(SettingsBecome(kRaw));
    EndFifo("end\n");
    EXPECT_EQ(0, NextStatus());
    EXPECT_EQ(kCooked, Now());
    EXPECT_EQ("end\n", ReadBytes(Path("out")));
    EndJob();
  }
}

// A page past the file-size limit is a failed write with its report, not a
// death by SIGXFSZ; the blocks written before stay.
TEST_F(TerminalTest, FileSizeLimitIsAFatalWriteError) {
  std::string page;
  for (int i = 0; i < 20; ++i) page += std::string(100, 'x') + "\n";
  WriteBytes(Path("page"), page);
  ASSERT_TRUE(Start({".", "page", "entry", "NONE", "out"}, true, 512));
  int status = NextStatus();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 101) << status;
  Drain();
  // The report's LFs come out as CR LF: the cooked settings are back.
  EXPECT_TRUE(
      std::regex_match(output_, std::regex("\x1b\\[m" + kGreeting +
                                           "Runtime error 101 at 0x\\w{8}\r\n"
                                           "(  0x\\w{8}\r\n)+\r\n")))
      << output_;
  EXPECT_EQ(kCooked, Now());
  EXPECT_EQ(page.substr(0, 512), ReadBytes(Path("out")));
}

// A person who types a template keeps line editing and ^D. The console
// lines end in LF, which the terminal turns into CR LF.
TEST_F(TerminalTest, TemplateFromTheTerminalLeavesTheSettingsAlone) {
  const Args rows[] = {{".", "", "entry", "NONE", "out"},
                       {".", "fifo", "", "NONE", "out"},
                       {".", "fifo", "entry", "", "out"}};
  for (const Args& args : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    ASSERT_TRUE(Start(args));
    ASSERT_TRUE(OutputUntil("Working")) << output_;
    EXPECT_EQ(kCooked, Now());
    // A word erased, a line, then ^D at the start of a line.
    if (args[1].empty()) Type("typo\x7f\x7f\x7f\x7fline\n\x04");
    EndFifo();
    EXPECT_EQ(0, NextStatus());
    EXPECT_EQ(kCooked, Now());
    EXPECT_EQ(0u, output_.find(kGreeting)) << output_;
    EXPECT_EQ(args[1].empty() ? "line\n" : "", ReadBytes(Path("out")));
    EndJob();
  }
}

// A background job would stop at the first change of the settings.
TEST_F(TerminalTest, BackgroundRunLeavesTheSettingsAlone) {
  ASSERT_TRUE(Start({".", "page", "entry", "NONE", "out"}, false));
  EXPECT_EQ(0, NextStatus());
  EXPECT_EQ(kCooked, Now());
  Drain();
  EXPECT_EQ(kGreeting, output_);
  EXPECT_EQ("hello\n", ReadBytes(Path("out")));
}

}  // namespace
