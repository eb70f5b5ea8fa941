// make_board: the committed example board is what examples/board.txt gives,
// the program lists it in a page that tidy passes and in a feed whose every
// line is JSON, an error in a description names its line, and escapes state
// any byte.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/test_board.h"
#include "tools/board_text.h"

namespace {

const std::string kExamples = std::string(SOURCE_DIR) + "/examples";

class ExampleBoardTest : public TempDirTest {};

TEST_F(ExampleBoardTest, MakeBoardRebuildsTheBoardTheProgramLists) {
  std::string command =
      std::string(MAKE_BOARD) + " '" + kExamples + "/board.txt' '" + dir_ + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  int committed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(kExamples + "/board")) {
    std::string name = entry.path().filename();
    EXPECT_EQ(ReadBytes(entry.path()), ReadBytes(Path(name))) << name;
    ++committed;
  }
  EXPECT_EQ(9, committed);  // korvel.dat and four bases

  RunResult run =
      RunProgram({"examples/board", "examples/page.html", "examples/entry.html",
                  "examples/alternate.html", Path("listing.html")},
                 SOURCE_DIR);
  EXPECT_EQ(0, run.Status) << run.Output;
  std::string page = ReadBytes(Path("listing.html"));
  // Names as stored and descriptions rendered from code page 437, escaped;
  // colours carry from line to line, a cursor move gives blanks.
  for (const char* part :
       {"<a href=\"/files/texts/Rules.txt\">Rules.txt</a>",
        "<a href=\"/files/utils/Tiny%20Tools.zip\">Tiny Tools.zip</a>",
        "<a href=\"/files/games/Cat%26Mouse.zip\">Cat&amp;Mouse.zip</a>",
        "<a href=\"/files/art/Caf%82-Fonts.zip\">Caf\u00e9-Fonts.zip</a>",
        "Cat &amp; Mouse &lt;deluxe&gt;: chase the mouse through 40 rooms;<br>",
        "<td class=\"desc\"><span class=\"fg15 bg4\"> \u2593\u2592\u2591 BBS GFX",
        "<span class=\"fg0 bg6\"> Mail </span><br>      <span class=\"fg8\">"}) {
    EXPECT_NE(std::string::npos, page.find(part)) << part;
  }
  EXPECT_EQ(std::string::npos, page.find("ERROR")) << page;
  std::string tidy = "tidy -e -q " + Path("listing.html");
  EXPECT_EQ(0, std::system(tidy.c_str()));  // no error, no warning

  // The feed: a JSON object for each of the 39 listed files, a line each.
  run = RunProgram({"examples/board", "examples/feed-page.txt",
                    "examples/feed-entry.txt", "NONE", Path("feed.jsonl")},
                   SOURCE_DIR);
  EXPECT_EQ(0, run.Status) << run.Output;
  std::string json = "python3 -c 'import json, sys; sys.exit(39 != len([json."
                     "loads(l) for l in open(sys.argv[1], \"rb\")]))' " +
                     Path("feed.jsonl");
  EXPECT_EQ(0, std::system(json.c_str()));
  EXPECT_NE(std::string::npos,
            ReadBytes(Path("feed.jsonl"))
                .find("{\"name\": \"Tiny Tools.zip\", \"link\": \"https://"
                      "bbs.example.net/files/utils/Tiny%20Tools.zip\", \"bytes"
                      "\": 512, \"description\": \"Three tiny command-line "
                      "tools in 512 bytes.\"}\n"));
}

TEST_F(ExampleBoardTest, MakeBoardNamesTheLineInError) {
  WriteBytes(Path("bad.txt"), "base u\nfile 1 0 A\n# c\nfile 1 256 B\n");
  std::string command = std::string(MAKE_BOARD) + " " + Path("bad.txt") + " " +
                        dir_ + " 2>" + Path("err");
  EXPECT_EQ(1, WEXITSTATUS(std::system(command.c_str())));
  EXPECT_NE(std::string::npos, ReadBytes(Path("err")).find("bad.txt:4: "));
}

TEST(BoardTextTest, EscapesStateAnyByteAndLengthsCountTheBytes) {
  BoardText board;
  std::string error, name70;
  for (int i = 0; i < 70; ++i) name70 += "\\x41";
  ASSERT_EQ(0u, ParseBoardText("base b\\\nfile 1 0 A\\\\\\x1B\\xc9 .ZIP\n"
                               "desc \\x00\\\\x41\\x20\nfile 1 0 " + name70,
                               &board, &error));
  EXPECT_EQ("b\\", board.Bases[0].Name);  // a path, taken as written
  EXPECT_EQ("A\\\x1b\xc9 .ZIP", board.Bases[0].Files[0].Name);
  EXPECT_EQ(std::string("\0\\x41 ", 6), board.Bases[0].Files[0].Description[0]);
  EXPECT_EQ(std::string(70, 'A'), board.Bases[0].Files[1].Name);
  for (const std::string& bad :
       std::vector<std::string>{"\\x4", "\\xg0", "\\n", "\\", name70 + "B"}) {
    EXPECT_EQ(2u, ParseBoardText("base b\nfile 1 0 " + bad, &board, &error))
        << bad << error;
  }
}

}  // namespace
