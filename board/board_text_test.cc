// The board description and make_board: the committed example board is what
// examples/board.txt gives, errors name their line, and the program lists
// the example board.

#include "board/board_text.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "board/test_board.h"

namespace {

const std::string kExamples = std::string(SOURCE_DIR) + "/examples";

class ExampleBoardTest : public TempDirTest {};

TEST_F(ExampleBoardTest, MakeBoardRebuildsTheCommittedFiles) {
  std::string command =
      std::string(MAKE_BOARD) + " '" + kExamples + "/board.txt' '" + dir_ + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  int committed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(kExamples + "/board")) {
    std::string name = entry.path().filename();
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadBytes(entry.path()), ReadBytes(Path(name)));
    ++committed;
  }
  EXPECT_EQ(7, committed);  // korvel.dat and three bases
}

TEST_F(ExampleBoardTest, MakeBoardNamesTheLineInError) {
  WriteBytes(Path("bad.txt"), "base u\nfile 1 0 A\n# c\nfile 1 256 B\n");
  std::string command = std::string(MAKE_BOARD) + " " + Path("bad.txt") + " " +
                        dir_ + " 2>" + Path("err");
  int status = std::system(command.c_str());
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, ReadBytes(Path("err")).find("bad.txt:4: "));
}

TEST(BoardTextTest, ReportsTheFirstLineInError) {
  for (const auto& [text, line] : std::vector<std::pair<std::string, size_t>>{
           {"base u\nfile 1 0 A\nfile 4294967296 0 B\n", 3},
           {"listdir x\n\ndesc before any file\n", 3},
           {"file 1 0 A\n", 1},
           {"base u\nbase u\n", 2},
           {"base u\nfiles 1 0 A\n", 2},
           {"base u\nfile 1  0 A\n", 2}}) {
    SCOPED_TRACE(text);
    BoardText board;
    std::string error;
    EXPECT_EQ(line, ParseBoardText(text, &board, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(BoardTextTest, TakesTheLastFieldToTheEndOfTheLine) {
  BoardText board;
  std::string error;
  ASSERT_EQ(0u, ParseBoardText("# c\n\nlistdir a b/\r\nbase u\n"
                               "file 4294967295 4 My File.zip\ndesc\ndesc  2\n",
                               &board, &error));
  EXPECT_EQ("a b/", board.ListDirectory);
  const BoardFile& file = board.Bases.at(0).Files.at(0);
  EXPECT_EQ("My File.zip", file.Name);
  EXPECT_EQ(-1, file.Size);
  EXPECT_EQ(4, file.Flags);
  EXPECT_EQ((std::vector<std::string>{"", " 2"}), file.Description);
}

TEST_F(ExampleBoardTest, ProgramListsEveryBase) {
  RunResult run =
      RunProgram({"examples/board", "examples/page.html", "examples/entry.html",
                  "examples/alternate.html", Path("listing.html")},
                 SOURCE_DIR);
  EXPECT_EQ(0, run.Status) << run.Output;
  std::string page = ReadBytes(Path("listing.html"));
  for (const char* entry :
       {"<a href=\"/files/utils/zippo31.exe\">ZIPPO31.EXE</a>",
        "<a href=\"/files/games/chess3d.zip\">CHESS3D.ZIP</a>",
        "<a href=\"/files/texts/rules.txt\">RULES.TXT</a>"}) {
    EXPECT_NE(std::string::npos, page.find(entry)) << entry;
  }
  // Every list starts with the entry template, not the alternate one.
  size_t first_rows = 0;
  for (size_t at = 0; (at = page.find("<tbody>\n<tr>\n", at)) != page.npos;) {
    ++first_rows;
    ++at;
  }
  EXPECT_EQ(3u, first_rows);
  EXPECT_EQ(std::string::npos, page.find("ERROR")) << page;
  EXPECT_EQ(std::string::npos, page.find("TEDKEY.ZIP"));  // excluded
}

}  // namespace
