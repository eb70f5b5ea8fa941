// make_board: the committed example board is what examples/board.txt gives,
// the program lists it, and an error in a description names its line.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/test_board.h"

namespace {

const std::string kExamples = std::string(SOURCE_DIR) + "/examples";

class ExampleBoardTest : public TempDirTest {};

TEST_F(ExampleBoardTest, MakeBoardRebuildsTheBoardTheProgramLists) {
  // Its listdir, examples/board/, names OUTDIR from the directory above.
  std::filesystem::create_directory(Path("examples"));
  std::string command = "cd '" + dir_ + "' && " + MAKE_BOARD + " '" +
                        kExamples + "/board.txt' examples/board";
  ASSERT_EQ(0, std::system(command.c_str()));
  int committed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(kExamples + "/board")) {
    std::string name = entry.path().filename();
    EXPECT_EQ(ReadBytes(entry.path()),
              ReadBytes(Path("examples/board/" + name)))
        << name;
    ++committed;
  }
  EXPECT_EQ(7, committed);  // korvel.dat and three bases

  RunResult run =
      RunProgram({"examples/board", "examples/page.html", "examples/entry.html",
                  "examples/alternate.html", Path("listing.html")},
                 SOURCE_DIR);
  EXPECT_EQ(0, run.Status) << run.Output;
  std::string page = ReadBytes(Path("listing.html"));
  // Uploaders' names and descriptions reach the page escaped.
  for (const char* part :
       {"<a href=\"/files/texts/rules.txt\">RULES.TXT</a>",
        "<a href=\"/files/utils/tiny%20tools.zip\">TINY TOOLS.ZIP</a>",
        "<a href=\"/files/games/cat%26mouse.zip\">CAT&amp;MOUSE.ZIP</a>",
        "Cat &amp; Mouse &lt;deluxe&gt;: chase"}) {
    EXPECT_NE(std::string::npos, page.find(part)) << part;
  }
  EXPECT_EQ(std::string::npos, page.find("ERROR")) << page;
}

TEST_F(ExampleBoardTest, MakeBoardNamesTheLineInError) {
  WriteBytes(Path("bad.txt"), "base u\nfile 1 0 A\n# c\nfile 1 256 B\n");
  std::string command = std::string(MAKE_BOARD) + " " + Path("bad.txt") + " " +
                        dir_ + " 2>" + Path("err");
  EXPECT_EQ(1, WEXITSTATUS(std::system(command.c_str())));
  EXPECT_NE(std::string::npos, ReadBytes(Path("err")).find("bad.txt:4: "));
}

}  // namespace
