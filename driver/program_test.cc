// Runs the built program on small boards and checks its bytes: console
// text, exit status and page, and what it does to a terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_board.h"

namespace {

using Args = std::vector<std::string>;
const std::string kGreeting =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n";
const std::string kWorking = kGreeting + "- Working ... \n";

class ProgramTest : public TempDirTest {};

TEST_F(ProgramTest, StartUpRefusalsLeaveThePageAlone) {
  WriteConfig();
  for (auto name : {"page", "entry", "out"}) WriteBytes(Path(name), "x\n");
  std::filesystem::create_directories(Path("sub/korvel.dat"));
  const std::string usage =
      "Usage: PELLIDOR [korvel_dir] [template 1] "
      "[template 2] [template 3] [output]";
  const std::string unread = "ERROR: Unable to read ";
  const std::pair<Args, std::string> rows[] = {
      {{}, usage},
      {Args(6, "page"), usage},
      {{"nodir", "page", "entry", "NONE", "out"}, unread + "KORVEL.DAT!"},
      {{"sub", "page", "entry", "NONE", "out"}, unread + "KORVEL.DAT!"},
      {{".", "nope", "entry", "NONE", "out"}, unread + "template 1"},
      {{".", "page", "sub", "NONE", "out"}, unread + "template 2"},
      {{".", "page", "entry", "nope", "out"}, unread + "template 3"},
      {{".", "page", "entry", "NONE2", "out"}, unread + "template 3"},
  };
  for (const auto& [args, message] : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult run = RunProgram(args, dir_);
    EXPECT_EQ(1, run.Status);
    EXPECT_EQ(kGreeting + message + "\n", run.Output);
    EXPECT_EQ("x\n", ReadBytes(Path("out")));
  }
}

// A marker line gives way to its list; text around the marker is lost.
TEST_F(ProgramTest, MarkersWhateverTheBoardPathOrWhereThePageGoes) {
  WriteConfig();
  WriteBase("files", {{"A.ZIP", 1, 0, {}}, {"B.ZIP", 2, 0, {}}});
  const std::string page =
      "top\r\n<!--PELLIDOR;files,/n/-->\n"
      "x <!--pellidor:files, /p/ --> y <!--PELLIDOR:files,/q/-->\n"
      "<!--PeLLiDoR:files,/r/\r<!--PELLIDOR:files-->\n"
      "<!--PELLIDOR: files,/s/-->\nend";
  WriteBytes(Path("page"), page);
  WriteBytes(Path("entry"), "[@PATH@]@LNAME@\n");
  const std::string listed =
      "top\n<!--PELLIDOR;files,/n/-->\n[ /p/ ]a.zip\n[ /p/ ]b.zip\n"
      "[]a.zip\n[]b.zip\nERROR: Unable to create list for \n"
      "ERROR: Unable to create list for  files\nend\n";
  // An empty page template is standard input, an empty output standard
  // output.
  for (const Args& args : {Args{dir_, "page", "entry", "none", "out"},
                           Args{dir_ + "/", "", "entry", "NoNe", ""}}) {
    RunResult run = RunProgram(args, dir_, page);
    EXPECT_EQ(0, run.Status);
    EXPECT_EQ(kWorking + listed,
              run.Output + (args[4].empty() ? "" : ReadBytes(Path("out"))));
  }
}

// However a run ends, the board's files keep their bytes and times.
TEST_F(ProgramTest, FatalErrorsReportAndKeepOnlyWholeBlocks) {
  WriteConfig();
  WriteBase("b", {{"A.ZIP", 1, 0, {"one"}}});
  WriteBytes(Path("c.dir"), FileListRecordBytes("C.ZIP", 1, 0, 0, 0));
  std::filesystem::create_directory(Path("short"));
  WriteBytes(Path("short/korvel.dat"), BoardConfigBytes(dir_ + "/").substr(1));
  const std::string line = std::string(200, 'x') + "\n";
  WriteBytes(Path("good"), "<!--PELLIDOR:b,x-->\n");
  WriteBytes(Path("page"), line + line + "<!--PELLIDOR:c,x-->\n");
  WriteBytes(Path("entry"), "@LNAME@ @DESC@\n");
  const std::string in_dir = "cd " + dir_ + " && ",
                    files = " korvel.dat b.dir b.des c.dir";
  ASSERT_EQ(0, std::system((in_dir + "touch -d @1000000000" + files).c_str()));
  auto board = [&] {
    std::system(
        (in_dir + "{ stat -c %Y" + files + "; cat" + files + "; } >state")
            .c_str());
    return ReadBytes(Path("state"));
  };
  const std::string before = board();
  // The page's reader, a pipe, is gone before the program starts.
  const Args pipe_gone = {
      "sh", "-c", "mkfifo p && exec 3<>p 4>p 3<&- && exec \"$0\" \"$@\" >&4"};
  const std::tuple<Args, int, Args> rows[] = {
      {{".", "good", "entry", "NONE", "out"}, 0, {}},
      {{".", "nope", "entry", "NONE", "out"}, 1, {}},
      {{"short", "good", "entry", "NONE", "out"}, 100, {}},
      {{".", "good", "entry", "NONE", "/dev/full"}, 101, {}},
      {{".", "good", "entry", "NONE", ""}, 101, pipe_gone},
      {{".", "page", "entry", "NONE", "out"}, 2, {}},
  };
  for (const auto& [args, status, prefix] : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult run = RunProgram(args, dir_, "", prefix);
    EXPECT_EQ(status, run.Status);
    EXPECT_EQ(before, board());
    if (status < 2 || !prefix.empty()) continue;
    EXPECT_TRUE(std::regex_match(
        run.Output, std::regex((status == 100 ? kGreeting : kWorking) +
                               "Runtime error " + std::to_string(status) +
                               " at 0x(\\w{8})\n  0x\\1\n(  0x\\w{8}\n)*\n")))
        << run.Output;
    // addr2line places every address of the report in our source; the
    // callers go up to main and no further.
    WriteBytes(Path("report"), run.Output);
    std::system((in_dir + ADDR2LINE " -e " PROGRAM
                                    " $(sed -n 's/^  0x/0x/p' report) >places")
                    .c_str());
    EXPECT_TRUE(std::regex_match(
        ReadBytes(Path("places")),
        std::regex("(" SOURCE_DIR "/[^:?\n]+:[0-9]+.*\n)*" SOURCE_DIR
                   "/driver/main.cc:[0-9]+.*\n")))
        << ReadBytes(Path("places"));
  }
  // The last run failed with 402 bytes of the page in hand.
  EXPECT_EQ(line + line.substr(0, 55), ReadBytes(Path("out")));
}

// As an ordinary user, board files that may only be read are read and a
// template that may not be read is refused.
TEST_F(ProgramTest, PermissionsOfAnOrdinaryUser) {
  const Args as_user = geteuid() == 0 ? Args{"setpriv", "--reuid=65534",
                                             "--regid=65534", "--clear-groups"}
                                      : Args{};
  if (RunProgram({}, dir_, "", as_user).Status != 1) {
    GTEST_SKIP() << "cannot run the program as an ordinary user";
  }
  WriteConfig();
  WriteBase("files", {{"A.ZIP", 1, 0, {"read"}}});
  WriteBytes(Path("page"), "<!--PELLIDOR:files,x-->\n");
  WriteBytes(Path("entry"), "@LNAME@ @DESC@\n");
  WriteBytes(Path("locked"), "x\n");
  // Nothing in the directory may be written but the directory itself.
  ASSERT_EQ(0, std::system(("chmod -R a+rX,a-w " + dir_ + " && chmod u+w " +
                            dir_ + " && chmod 0 " + Path("locked"))
                               .c_str()));
  for (auto [page, output] :
       {std::pair<std::string, std::string>{"page", kWorking + "a.zip read\n"},
        {"locked", kGreeting + "ERROR: Unable to read template 1\n"}}) {
    EXPECT_EQ(
        output,
        RunProgram({".", page, "entry", "NONE", ""}, dir_, "", as_user).Output);
  }
}

// On a terminal the console lines end in CR LF and the page passes as it
// is; the terminal is raw during the run and gets its settings back however
// the run ends.
TEST_F(ProgramTest, RawTerminalWhileRunningRestoredAtEveryEnd) {
  if (UnderEmulation()) {
    GTEST_SKIP() << "qemu-user does not drive a pseudo-terminal alike on "
                    "every machine: under qemu-i386 the runs never end";
  }
  WriteConfig();
  WriteBytes(Path("page"), "hello\n");
  WriteBytes(Path("entry"), "");
  std::filesystem::create_directory(Path("short"));
  WriteBytes(Path("short/korvel.dat"), "");
  // A run whose page template is this FIFO waits in the page pass until the
  // test has looked at the terminal and sent SIGTERM.
  ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  const std::string greeting =
      "\x1b\\[m\r\nPELLIDOR : Converts Korvel File Bases to HTML Listings\r\n"
      "  v1.0   : Compatible with Korvel v1.07.3\r\n\r\n";
  // Board, page template, what follows the greeting (a pattern), wait status.
  const std::tuple<std::string, std::string, std::string, int> cases[] = {
      {"none", "page", "ERROR: Unable to read KORVEL.DAT!\r\n", 1 << 8},
      // The report's LFs come out as CR LF: the cooked settings are back.
      {"short", "page",
       "Runtime error 100 at 0x\\w{8}\r\n(  0x\\w{8}\r\n)+\r\n", 100 << 8},
      {".", "page", "- Working ... \r\nhello\n", 0},
      {".", "fifo", "- Working ... \r\n", SIGTERM},
  };
  for (const auto& [board, page, tail, wait_status] : cases) {
    SCOPED_TRACE(tail);
    int fifo = open(Path("fifo").c_str(), O_RDWR | O_CLOEXEC);
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0 && chdir(dir_.c_str()) == 0) {
      execl("/bin/sh", "sh", "-c", "stty min 3 time 7 && exec \"$0\" \"$@\"",
            PROGRAM, board.c_str(), page.c_str(), "entry", "NONE", "", nullptr);
    }
    if (child == 0) _exit(127);
    std::string output;
    pollfd ready = {master, POLLIN, 0};
    char buffer[4096];
    ssize_t got = 0;  // -1 at the end (EIO), 0 after 10 s without output
    auto read_more = [&] {
      got =
          poll(&ready, 1, 10000) > 0 ? read(master, buffer, sizeof buffer) : 0;
      output.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
      return got > 0;
    };
    auto settings = [&] {
      struct termios now = {};
      tcgetattr(master, &now);
      return std::vector<unsigned>{
          now.c_iflag & (ICRNL | IXON), now.c_oflag & OPOST,
          now.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), now.c_cc[VMIN],
          now.c_cc[VTIME]};
    };
    if (wait_status == SIGTERM) {
      while (output.find("Working") == std::string::npos && read_more()) {
      }
      EXPECT_EQ((std::vector<unsigned>{0, 0, 0, 3, 7}), settings());
      kill(child, SIGTERM);
    }
    close(fifo);  // the end of the page template
    while (read_more()) {
    }
    ASSERT_EQ(-1, got) << "no end in time: " << output;
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(wait_status, status);
    EXPECT_TRUE(std::regex_match(output, std::regex(greeting + tail)))
        << output;
    EXPECT_EQ((std::vector<unsigned>{ICRNL | IXON, OPOST,
                                     ICANON | ECHO | ISIG | IEXTEN, 3, 7}),
              settings());
    close(master);
  }
}

}  // namespace
