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
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_board.h"
#include "tools/board_builder.h"

namespace {

using Args = std::vector<std::string>;
using Settings = std::vector<unsigned>;

// The settings the tests give the terminal, and raw mode made of them: the
// read minimum 3 and time-out 7 must survive both ways.
const Settings kCooked = {ICRNL | IXON, OPOST, ICANON | ECHO | ISIG | IEXTEN, 3,
                          7};
const Settings kRaw = {0, 0, 0, 3, 7};
// `text` as the terminal shows it, each LF as CR LF.
std::string Shown(const std::string& text) {
  return std::regex_replace(text, std::regex("\n"), "\r\n");
}
const std::string kWorking = Shown(kGreeting + std::string("- Working ... \n"));

// The test is a shell: the child of forkpty leads the terminal's session
// and runs the program as a job in a process group of its own, in the
// foreground or not, and sends the job's number and each of its wait
// statuses up a pipe. Unlike a session leader, such a job can be stopped.
class TerminalTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SKIP_UNDER_EMULATION("qemu-user does not drive a pseudo-terminal alike "
                         "on every machine: under qemu-i386 runs never end");
    WriteBytes(Path("korvel.dat"), BoardConfigBytes(dir_ + "/"));
    WriteBytes(Path("page"), "hello\n");
    for (int i = 0; i < 20; ++i) big_ += std::string(100, 'x') + "\n";
    WriteBytes(Path("big"), big_);
    WriteBytes(Path("entry"), "");
    // A base of two files, listed by the page template "list".
    BaseBytes base = BuildBase({{"A", 1, 0, {"one"}}, {"B", 2, 0, {"two"}}});
    WriteBytes(Path("b.dir"), base.Dir);
    WriteBytes(Path("b.des"), base.Des);
    WriteBytes(Path("list"), "<!--PELLIDOR:b,/-->\n");
    // A page template that is this FIFO holds the run in the page pass
    // until the test writes its end.
    ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  }

  void TearDown() override {
    EndJob();
    TempDirTest::TearDown();
  }

  // Starts the program with `args` in dir_, its files bounded to `limit`
  // bytes and its stack to `stack`. False if the job did not start in time.
  bool Start(const Args& args, bool foreground = true, rlim_t limit = 1 << 20,
             rlim_t stack = RLIM_INFINITY) {
    // Held open, the FIFO has a writer, so the run's open does not wait.
    fifo_ = open(Path("fifo").c_str(), O_RDWR | O_CLOEXEC);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    shell_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (shell_ == 0) RunShell(args, foreground, limit, stack, report[1]);
    close(report[1]);
    report_ = report[0];
    return shell_ > 0 && Reported(0, &job_);
  }

  // The job's next wait status, or -1 when none comes in time.
  int NextStatus() {
    int status = -1;
    if (!Reported(sizeof job_ + statuses_++ * sizeof status, &status)) {
      return -1;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) job_ = -1;  // reaped
    return status;
  }

  // Takes in what the terminal and the shell's pipe give until `done`
  // holds, or for 10 s: then false.
  bool Await(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      // A side that has ended is left out.
      pollfd ready[2] = {{hung_up_ ? -1 : master_, POLLIN, 0},
                         {report_, POLLIN, 0}};
      poll(ready, 2, 10);
      char buffer[4096];
      for (int i : {0, 1}) {
        if (ready[i].revents == 0) continue;
        ssize_t got = read(ready[i].fd, buffer, sizeof buffer);
        if (got > 0) {
          (i == 0 ? output_ : reports_).append(buffer, got);
        } else if (i == 0) {
          hung_up_ = true;  // the job and the shell have closed the terminal
        } else {
          close(report_);
          report_ = -1;
        }
      }
    }
    return true;
  }

  // Copies the value at `at` in the shell's reports once it has come.
  template <typename T>
  bool Reported(size_t at, T* value) {
    if (!Await([&] { return reports_.size() >= at + sizeof *value; })) {
      return false;
    }
    memcpy(value, reports_.data() + at, sizeof *value);
    return true;
  }

  // All the terminal showed, once the job and the shell have ended.
  std::string Output() {
    EXPECT_TRUE(Await([&] { return hung_up_; }));
    return output_;
  }

  Settings Now() const {
    struct termios now = {};
    tcgetattr(master_, &now);
    return {now.c_iflag & (ICRNL | IXON), now.c_oflag & OPOST,
            now.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), now.c_cc[VMIN],
            now.c_cc[VTIME]};
  }

  // Waits until the run is in its page pass, the terminal raw.
  bool Working() {
    return Await([&] { return output_.find("Working") != output_.npos; }) &&
           Await([&] { return Now() == kRaw; });
  }

  // Writes the FIFO's last bytes and closes it: the run then ends.
  void EndFifo(const std::string& last_bytes = "") {
    WriteBytes(Path("fifo"), last_bytes);
    close(fifo_);
    fifo_ = -1;
  }

  // Kills and reaps whatever still runs, for a new start.
  void EndJob() {
    if (job_ > 0) kill(job_, SIGKILL);
    // The shell reaps the job and ends; it is killed only if it does not.
    if (shell_ > 0 && !Await([&] {
          return waitpid(shell_, nullptr, WNOHANG) == shell_;
        })) {
      kill(shell_, SIGKILL);
      waitpid(shell_, nullptr, 0);
    }
    for (int fd : {master_, report_, fifo_}) close(fd);
    master_ = report_ = fifo_ = job_ = shell_ = -1;
    output_.clear();
    reports_.clear();
    statuses_ = 0;
    hung_up_ = false;
    unlink(Path("out").c_str());
  }

  int fifo_ = -1, master_ = -1, report_ = -1;
  std::string big_;  // a page template of 2000 bytes
  pid_t job_ = -1, shell_ = -1;
  std::string output_, reports_;  // from the terminal, from the shell
  size_t statuses_ = 0;           // taken from reports_
  bool hung_up_ = false;          // the terminal's other side is closed

 private:
  [[noreturn]] void RunShell(const Args& args, bool foreground, rlim_t limit,
                             rlim_t stack, int report) {
    close(fifo_);  // the shell never execs; its writer would hold the run
    struct termios settings;
    tcgetattr(0, &settings);
    settings.c_cc[VMIN] = 3;
    settings.c_cc[VTIME] = 7;
    tcsetattr(0, TCSANOW, &settings);
    pid_t job = fork();
    if (job == 0) {
      // The job takes the terminal itself, before it runs the program.
      setpgid(0, 0);
      signal(SIGTTOU, SIG_IGN);
      if (foreground) tcsetpgrp(0, getpid());
      signal(SIGTTOU, SIG_DFL);
      signal(SIGUSR2, SIG_IGN);  // as nohup does with SIGHUP
      struct rlimit bound = {limit, limit};
      setrlimit(RLIMIT_FSIZE, &bound);
      struct rlimit stack_bound = {stack, stack};
      if (stack != RLIM_INFINITY) setrlimit(RLIMIT_STACK, &stack_bound);
      std::vector<char*> argv = {const_cast<char*>(PROGRAM)};
      for (const std::string& arg : args) argv.push_back((char*)arg.c_str());
      argv.push_back(nullptr);
      if (chdir(dir_.c_str()) == 0) execv(PROGRAM, argv.data());
      _exit(127);
    }
    setpgid(job, job);
    (void)!write(report, &job, sizeof job);
    for (int status; waitpid(job, &status, WUNTRACED | WCONTINUED) == job;) {
      (void)!write(report, &status, sizeof status);
      if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    }
    _exit(0);
  }
};

// Runs that end by themselves, by a signal or by a fatal error, and runs
// stopped and continued: each gives the settings back, the page on the
// terminal passing with LF alone. A signal that ends the run ends it by
// itself again; SIGUSR2, ignored at the start, stays so, as SIGHUP under
// nohup. A file-size limit is a failed write, not SIGXFSZ, whose report
// comes on the cooked terminal.
TEST_F(TerminalTest, TheSettingsComeBackHoweverTheRunEnds) {
  uint64_t ignored = 0;
  for (int number : {SIGPIPE, SIGXFSZ, SIGUSR2}) ignored |= 1ull << (number - 1);
  char mask[32];
  snprintf(mask, sizeof mask, "SigIgn:\t%016llx", (unsigned long long)ignored);
  const std::string fatal = Shown(kGreeting + std::string(
                                      "ERROR: Unable to read KORVEL.DAT!\n"));
  struct Row {
    Args args;
    int signal, status;
    std::string shown, page;
  };
  std::vector<Row> rows = {
      {{"none", "page", "entry", "NONE", ""}, 0, 1, fatal, ""},
      {{".", "page", "entry", "NONE", ""}, 0, 0, kWorking + "hello\n", ""},
      {{".", "big", "entry", "NONE", "out"}, 0, 101, kWorking + "@FATAL 101@\r\n",
       big_.substr(0, 512)},
      {{".", "fifo", "entry", "NONE", "out"}, SIGTSTP, 0, kWorking, "end\n"},
      {{".", "fifo", "entry", "NONE", "out"}, SIGTTOU, 0, kWorking, "end\n"}};
  for (int number : {SIGTERM, SIGUSR1, SIGALRM, SIGRTMIN + 1, SIGHUP}) {
    rows.push_back({{".", "fifo", "entry", "NONE", "out"}, number, 128 + number,
                   kWorking, ""});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args) + std::to_string(row.signal));
    ASSERT_TRUE(Start(row.args, true, 512));
    if (row.signal != 0) {
      ASSERT_TRUE(Working());
      EXPECT_NE(std::string::npos,
                ReadBytes("/proc/" + std::to_string(job_) + "/status").find(mask));
      kill(job_, row.signal);
    }
    if (row.page == "end\n") {  // stopped, then continued
      int status = NextStatus();
      EXPECT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == row.signal);
      EXPECT_EQ(kCooked, Now());
      kill(job_, SIGCONT);
      EXPECT_TRUE(WIFCONTINUED(NextStatus()));
      EXPECT_TRUE(Await([&] { return Now() == kRaw; }));
      EndFifo(row.page);
    }
    EXPECT_EQ(row.status, ExitStatus(NextStatus()));
    EXPECT_EQ(kCooked, Now());
    std::string got = Output();
    if (row.status == 101) {  // its report, every LF shown as CR LF
      got = Shown(MarkFatalReports(std::regex_replace(got, std::regex("\r\n"), "\n")));
    }
    EXPECT_EQ("\x1b[m" + row.shown, got);
    EXPECT_EQ(row.page, ReadBytes(Path("out")));
    EndJob();
  }
}

// A run that overflows its stack, as a small limit makes it do in the page
// pass, dies with the settings restored.
TEST_F(TerminalTest, StackOverflowGivesTheSettingsBack) {
  WriteBytes(Path("entry"), "@DESC@\n");
  ASSERT_TRUE(Start({".", "list", "entry", "NONE", "out"}, true, 1 << 20,
                    128 << 10));
  EXPECT_NE(0, NextStatus());  // SIGSEGV, or a sanitizer's report
  EXPECT_EQ(kCooked, Now());
}

// A person who types a template keeps line editing and ^D, typed once for
// the whole run; a run in the background would stop at the first change of
// the settings.
TEST_F(TerminalTest, TypedTemplateAndBackgroundLeaveTheSettingsAlone) {
  const Args rows[] = {{".", "", "entry", "NONE", "out"},
                       {".", "list", "", "NONE", "out"},
                       {".", "fifo", "entry", "", "out"},
                       {".", "page", "entry", "NONE", "out"}};
  for (const Args& args : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    ASSERT_TRUE(Start(args, args[1] != "page"));
    ASSERT_TRUE(Await([&] { return output_.find("Working") != output_.npos; }));
    EXPECT_EQ(kCooked, Now());
    // A word erased, a line, then ^D at the start of a line.
    const bool typed = args[1].empty() || args[2].empty();
    if (typed) {
      ASSERT_EQ(14, write(master_, "typo\x7f\x7f\x7f\x7fline\n\x04", 14));
    }
    EndFifo();
    EXPECT_EQ(0, NextStatus());
    EXPECT_EQ(kCooked, Now());
    // What is typed is echoed after the greeting.
    EXPECT_EQ(kWorking, Output().substr(
                            0, typed ? kWorking.size() : std::string::npos));
    EXPECT_EQ(typed ? "line\n" : args[1] == "page" ? "hello\n" : "",
              ReadBytes(Path("out")));
    EndJob();
  }
}

}  // namespace
