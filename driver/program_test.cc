// Runs the built program on small boards and checks its bytes: console
// text, exit status and page.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <tuple>

#include "board/test_board.h"

namespace {

namespace fs = std::filesystem;

const std::string kGreeting =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n";
const std::string kWorking = "- Working ... \n";

class ProgramTest : public TempDirTest {
 protected:
  // The error number of the fatal report that is all of `text`, or -1 when
  // its form is wrong. addr2line must place every location in our source.
  int ReportedError(const std::string& text) const {
    static const std::regex kReport(
        "Runtime error (\\d+) at 0x([0-9A-F]{8})\n"
        "  0x\\2\n(  0x[0-9A-F]{8}\n)*\n");
    std::smatch match;
    if (!std::regex_match(text, match, kReport)) return -1;
    std::string command = "addr2line -e " PROGRAM;
    for (size_t at = 0; (at = text.find("  0x", at)) != std::string::npos;
         at += 2) {
      command += text.substr(at + 1, 11);
    }
    EXPECT_EQ(0, std::system((command + " >" + Path("places")).c_str()));
    static const std::regex kPlaces("(" SOURCE_DIR "/[^:?\n]+:[0-9]+.*\n)+");
    std::string places = ReadBytes(Path("places"));
    EXPECT_TRUE(std::regex_match(places, kPlaces)) << places;
    return std::stoi(match[1]);
  }
};

TEST_F(ProgramTest, WrongArgumentCountGivesUsage) {
  for (int count : {0, 4, 6}) {
    SCOPED_TRACE(count);
    RunResult run = RunProgram(std::vector<std::string>(count, "x"), dir_);
    EXPECT_EQ(1, run.Status);
    EXPECT_EQ(kGreeting +
                  "Usage: PELLIDOR [korvel_dir] [template 1] [template 2] "
                  "[template 3] [output]\n",
              run.Output);
  }
}

TEST_F(ProgramTest, WorkedExample) {
  WriteConfig();
  WriteBase("files", {{"File.ZIP", 1536, 0, {"one", "two"}}});
  WriteBytes(Path("page"), "<!--PELLIDOR:files,files-->\n");
  WriteBytes(Path("entry"),
             "<a href='@PATH@/@lname@'>@UNAME@</a> @SIZEK@k (@SIZEB@) "
             "@DESC@ @DESC@\n");
  RunResult run = RunProgram({".", "page", "entry", "NONE", "out"}, dir_);
  EXPECT_EQ(0, run.Status);
  EXPECT_EQ(kGreeting + kWorking, run.Output);
  EXPECT_EQ("<a href='files/file.zip'>FILE.ZIP</a> 1k (1,536) one two @DESC@\n",
            ReadBytes(Path("out")));
}

TEST_F(ProgramTest, StartUpErrorsLeaveThePageAlone) {
  WriteConfig();
  for (auto name : {"page", "entry", "alt"}) WriteBytes(Path(name), "x\n");
  fs::create_directories(Path("board/korvel.dat"));
  fs::create_directory(Path("sub"));
  WriteBytes(Path("out"), "old page\n");
  using Row = std::array<std::string, 5>;  // four arguments, what is unread
  for (auto [board, page, entry, alternate, unread] :
       std::vector<Row>{{"nodir", "page", "entry", "alt", "KORVEL.DAT!"},
                        {"board", "page", "entry", "alt", "KORVEL.DAT!"},
                        {".", "nope", "entry", "alt", "template 1"},
                        {".", "sub", "entry", "alt", "template 1"},
                        {".", "page", "nope", "alt", "template 2"},
                        {".", "page", "sub", "NONE", "template 2"},
                        {".", "page", "entry", "nope", "template 3"},
                        {".", "page", "entry", "sub", "template 3"},
                        {".", "page", "entry", "NONE2", "template 3"},
                        {".", "page", "entry", " NONE", "template 3"}}) {
    SCOPED_TRACE(board + "|" + page + "|" + entry + "|" + alternate);
    RunResult run = RunProgram({board, page, entry, alternate, "out"}, dir_);
    EXPECT_EQ(1, run.Status);
    EXPECT_EQ(kGreeting + "ERROR: Unable to read " + unread + "\n", run.Output);
    EXPECT_EQ("old page\n", ReadBytes(Path("out")));
  }
}

// Each marker line gives way to its list; text around the marker is lost.
TEST_F(ProgramTest, SamePageWhateverTheBoardPathConfigSizeOrPageSource) {
  WriteConfig();
  fs::create_directory(Path("big"));
  WriteBytes(Path("big/korvel.dat"),
             BoardConfigBytes(dir_ + "/") + BoardConfigBytes("/nowhere/"));
  WriteBase("files", {{"A.ZIP", 1, 0, {}}, {"B.ZIP", 2, 0, {}}});
  fs::create_directory(Path("dirdir.dir"));
  const std::string page =
      "top\r\n<!--PELLIDOR;files,/n/-->\n"
      "x <!--pellidor:files, /p/ --> y <!--PELLIDOR:files,/q/-->\n"
      "<!--PeLLiDoR:files,/r/\r<!--PELLIDOR:files-->\n"
      "<!--PELLIDOR: files,/s/-->\n<!--PELLIDOR:dirdir,/t/-->\nend";
  WriteBytes(Path("page"), page);
  WriteBytes(Path("entry"), "[@PATH@]@LNAME@\n");
  using Row = std::array<std::string, 3>;  // board, page template, alternate
  for (auto [board, page_template, alternate] :
       std::vector<Row>{{".", "page", "NONE"},
                        {dir_ + "/big", "page", "none"},
                        {dir_ + "/big/", "", "NoNe"}}) {
    SCOPED_TRACE(board + "|" + page_template + "|" + alternate);
    RunResult run = RunProgram(
        {board, page_template, "entry", alternate, "out"}, dir_, page);
    EXPECT_EQ(0, run.Status);
    EXPECT_EQ(kGreeting + kWorking, run.Output);
    EXPECT_EQ(
        "top\n<!--PELLIDOR;files,/n/-->\n[ /p/ ]a.zip\n[ /p/ ]b.zip\n"
        "[]a.zip\n[]b.zip\nERROR: Unable to create list for \n"
        "ERROR: Unable to create list for  files\n"
        "ERROR: Unable to create list for dirdir\nend\n",
        ReadBytes(Path("out")));
  }
  // The page template is opened before the page empties it.
  EXPECT_EQ(0, RunProgram({".", "page", "entry", "NONE", "page"}, dir_).Status);
  EXPECT_EQ("", ReadBytes(Path("page")));
}

TEST_F(ProgramTest, FatalErrorsReportAndKeepOnlyWholeBlocks) {
  WriteConfig();
  fs::create_directory(Path("short"));
  WriteBytes(Path("short/korvel.dat"), BoardConfigBytes(dir_ + "/").substr(1));
  std::string lines;
  for (char c : {'a', 'b', 'c', 'd', 'e', 'f'})
    lines += std::string(99, c) + "\n";
  WriteBytes(Path("page"), lines + "<!--PELLIDOR:nodes,x-->\nend\n");
  WriteBytes(Path("desdir"), "<!--PELLIDOR:desdir,x-->\n");
  WriteBytes(Path("entry"), "@LNAME@\n");
  WriteBytes(Path("nodes.dir"), FileListRecordBytes("A.ZIP", 1, 0, 0, 0));
  WriteBytes(Path("desdir.dir"), FileListRecordBytes("A.ZIP", 1, 0, 0, 0));
  fs::create_directory(Path("desdir.des"));
  using Row = std::tuple<std::string, std::string, std::string, int>;
  for (auto [board, page_template, output, error] :
       std::vector<Row>{{"short", "page", "out", 100},
                        {".", "page", "/dev/full", 101},
                        {".", "page", "nodir/out", 2},
                        {".", "page", "short", 5},
                        {".", "desdir", "out", 5},
                        {".", "page", "out", 2}}) {
    SCOPED_TRACE(board + "|" + page_template + "|" + output);
    RunResult run =
        RunProgram({board, page_template, "entry", "NONE", output}, dir_);
    EXPECT_EQ(error, run.Status);
    std::string head = kGreeting + (error == 100 ? "" : kWorking);
    ASSERT_EQ(head, run.Output.substr(0, head.size()));
    EXPECT_EQ(error, ReportedError(run.Output.substr(head.size())))
        << run.Output;
  }
  // The last run failed with 600 bytes of the page in hand.
  EXPECT_EQ(lines.substr(0, 512), ReadBytes(Path("out")));

  // A page on standard output whose reader has gone.
  int pipe_ends[2];
  ASSERT_EQ(0, pipe(pipe_ends));
  close(pipe_ends[0]);
  if (pid_t child = fork(); child == 0) {
    signal(SIGPIPE, SIG_DFL);  // the program itself must not die of it
    dup2(pipe_ends[1], 1);
    if (chdir(dir_.c_str()) == 0) {
      execl(PROGRAM, PROGRAM, ".", "page", "entry", "NONE", "", nullptr);
    }
    _exit(127);
  }
  close(pipe_ends[1]);
  int status = 0;
  wait(&status);
  EXPECT_EQ(101, WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
}

// Board files that may be read but not written are read; a template that may
// not be read is refused. Runs as an ordinary user.
TEST_F(ProgramTest, PermissionsOfAnOrdinaryUser) {
  std::vector<std::string> as_user;
  if (geteuid() == 0) {
    as_user = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups "
                    "true 2>/dev/null") != 0) {
      GTEST_SKIP() << "cannot drop privileges with setpriv";
    }
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
  RunResult run =
      RunProgram({".", "page", "entry", "NONE", ""}, dir_, "", as_user);
  EXPECT_EQ(0, run.Status);
  EXPECT_EQ(kGreeting + kWorking + "a.zip read\n", run.Output);
  for (int n = 1; n <= 3; ++n) {
    std::vector<std::string> args = {".", "page", "entry", "NONE", "out"};
    args[n] = "locked";
    run = RunProgram(args, dir_, "", as_user);
    EXPECT_EQ(1, run.Status);
    EXPECT_EQ(kGreeting + "ERROR: Unable to read template " +
                  std::to_string(n) + "\n",
              run.Output);
  }
}

}  // namespace
