// Runs the built program on small boards and checks its bytes: console
// text, exit status and page.

#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
