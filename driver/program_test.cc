// Runs the built program on small boards and checks its bytes: console
// text, exit status and page.

#include <gtest/gtest.h>

#include <string>

#include "board/test_board.h"

namespace {

const std::string kGreeting =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n";

class ProgramTest : public TempDirTest {};

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
  EXPECT_EQ(kGreeting + "- Working ... \n", run.Output);
  EXPECT_EQ(
      "<a href='files/file.zip'>FILE.ZIP</a> 1k (1,536) one two @DESC@\n",
      ReadBytes(Path("out")));
}

}  // namespace
