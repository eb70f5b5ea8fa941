// Runs the built program on small boards and checks the lists it writes:
// alternation, the tokens of entry templates and the failures of a base.

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_board.h"

namespace {

const std::string kMarker = "<!--PELLIDOR:b,/f/-->\n";

class BaseListTest : public TempDirTest {
 protected:
  // Runs on the board in dir_ and gives the page, or the exit status of a
  // failed run.
  std::string Run(const std::string& entry, const std::string& page = kMarker,
                  const std::string& alternate = "NONE") {
    WriteConfig();
    WriteBytes(Path("page"), page);
    WriteBytes(Path("entry"), entry);
    RunResult run = RunProgram({".", "page", "entry", alternate, "out"}, dir_);
    if (run.Status != 0) return "status " + std::to_string(run.Status);
    return ReadBytes(Path("out"));
  }
};

TEST_F(BaseListTest, AlternatesOverListedFilesAndRestartsPerMarker) {
  // Only flag bit 4 leaves a file out; a part-record at the end is not read.
  std::vector<BoardFile> files;
  for (int flags : {0, 251, 255, 0, 0}) {
    files.push_back({std::to_string(files.size() + 1), 0, uint8_t(flags), {}});
  }
  WriteBase("b", files);
  WriteBytes(Path("b.dir"), ReadBytes(Path("b.dir")) + std::string(117, 'x'));
  WriteBase("c", {{"6", 0, 0, {}}});
  std::filesystem::create_directory(Path("d.dir"));
  WriteBytes(Path("d.des"), "");
  WriteBytes(Path("alt"), "A @LNAME@\r\n\r\n");
  // A template named like NONE would end the run if it were opened.
  std::filesystem::create_directory(Path("nOnE"));
  const std::string page =
      "top\n" + kMarker +
      "<!--PELLIDOR:missing,x-->\n<!--PELLIDOR:d,x-->\n<!--PELLIDOR:c,x-->\n" +
      kMarker + "end\n";
  struct {
    std::string entry, alternate, b_list, c_list;
  } cases[] = {
      {"E @LNAME@\n-", "alt", "E 1\n-\nA 2\n\nE 4\n-\nA 5\n\n", "E 6\n-\n"},
      {"", "alt", "A 2\n\nA 5\n\n", ""},
      {"E @LNAME@", "nOnE", "E 1\nE 2\nE 4\nE 5\n", "E 6\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry + " " + c.alternate);
    EXPECT_EQ("top\n" + c.b_list +
                  "ERROR: Unable to create list for missing\n"
                  "ERROR: Unable to create list for d\n" +
                  c.c_list + c.b_list + "end\n",
              Run(c.entry, page, c.alternate));
  }
}

TEST_F(BaseListTest, ExpandsTokens) {
  const std::string x255(255, 'x'), a249(249, 'a');
  WriteBase("b", {{"Demo.ZIP", 1536, 0, {"one", "two", "three"}},
                  {"a", 1023, 0, {}},
                  {"b", 1048576, 0, {"one"}},
                  // The joined text keeps 255 bytes: a full line loses its
                  // blank.
                  {"c", -1536, 0, {x255, "y"}}});
  EXPECT_EQ(
      "demo.zip DEMO.ZIP 1 1,536 [one two three]\n"
      "a A 0 1,023 []\n"
      "b B 1024 1,048,576 [one]\n"
      "c C -1 -1,536 [" +
          x255 + "y]\n",
      Run("@lname@ @Uname@ @SIZEK@ @sizeb@ [@Desc@]"));
  // Each token is replaced where it first stands, unless that is inside
  // another; a line of 255 bytes keeps its last token, a longer one is cut
  // before tokens are looked for.
  WriteBase("b", {{"A.zip", 0, 0, {}}});
  EXPECT_EQ("A.ZIPa.zip/f/@@lname@ @Path@\n/f/LNAME@ @lname@\n" + a249 +
                "/f/\n" + a249 + "a@PATH\n",
            Run("@UNAME@@LNAME@@PATH@@@lname@ @Path@\n@PATH@LNAME@ @lname@\n" +
                a249 + "@PATH@\r\n" + a249 + "a@PATH@"));
}

TEST_F(BaseListTest, ExpandsEscapingTokens) {
  // Markup bytes become entities in HTML; bytes from 0x80 up stay there and
  // are percent-encoded in links like every byte but A-Z a-z 0-9 - . _ ~.
  WriteBase("b", {{"Tom&Jerry <\"X\">'\x80\xff a-Z_0.~",
                   0,
                   0,
                   {"one & <two>", "\"3\" '\x80'", ""}},
                  {"x", 0, 0, {}}});
  EXPECT_EQ(
      "tom&amp;jerry &lt;&quot;x&quot;&gt;&#39;\x80\xff a-z_0.~\n"
      "TOM&amp;JERRY &lt;&quot;X&quot;&gt;&#39;\x80\xff A-Z_0.~\n"
      "tom%26jerry%20%3C%22x%22%3E%27%80%FF%20a-z_0.~\n"
      "TOM%26JERRY%20%3C%22X%22%3E%27%80%FF%20A-Z_0.~\n"
      "[one &amp; &lt;two&gt; &quot;3&quot; &#39;\x80&#39; ]\n"
      "x\nX\nx\nX\n[]\n",
      Run("@hlname@\n@HUname@\n@ULNAME@\n@uuName@\n[@HDesc@]"));

  // The escaped texts are not cut to 255 bytes; "@HDESC@" reads the lines
  // as "@DESC@" does, so a full line keeps no blank.
  std::string amp70(70, '&'), lt255(255, '<'), amp_html, lt_html;
  for (int i = 0; i < 70; ++i) amp_html += "&amp;";
  for (int i = 0; i < 255; ++i) lt_html += "&lt;";
  WriteBase("b", {{amp70, 0, 0, {lt255, "y"}}});
  std::string amp_link;
  for (int i = 0; i < 70; ++i) amp_link += "%26";
  EXPECT_EQ(amp_html + "\n" + amp_link + "\n" + lt255 + "y|" + lt_html + "y\n",
            Run("@HUNAME@\n@ULNAME@\n@DESC@|@HDESC@"));

  // Only the first occurrence of each token counts, next to the six and
  // inside them; a token that starts in one replaced is left as it is, and
  // near misses are text.
  WriteBase("b", {{"A&", 0, 0, {"<"}}});
  EXPECT_EQ(
      "a&a&amp;a%26A& @hlname@ @LNAME@\n"
      "/f/HLNAME@ @hlname@\n"
      "&lt;ULNAME@ <\n"
      "A%26LNAME@|@LNAME@\n"
      "@HXNAME@ @ULNAM@ @HHDESC@ @XLNAME@ @HUNAME @UUNAME\n",
      Run("@LNAME@@HLNAME@@ULNAME@@UNAME@ @hlname@ @LNAME@\n"
          "@PATH@HLNAME@ @hlname@\n"
          "@HDESC@ULNAME@ @DESC@\n"
          "@UUNAME@LNAME@|@LNAME@\n"
          "@HXNAME@ @ULNAM@ @HHDESC@ @XLNAME@ @HUNAME @UUNAME\n"));
}

TEST_F(BaseListTest, MissingOrBadDescriptionsEndTheRun) {
  // A missing ".des" ends the run even when no file is listed.
  WriteBytes(Path("b.dir"), "");
  EXPECT_EQ("status 2", Run("[@DESC@]"));
  WriteBytes(Path("b.des"), "\x03one\x05tw");  // an item cut short at 4
  for (auto [offset, lines, expected] :
       std::vector<std::tuple<int32_t, uint8_t, std::string>>{
           {0, 1, "[one]\n"},
           {0, 2, "status 100"},
           {7, 1, "status 100"},
           {-1, 1, "status 100"},
           {-1, 0, "[]\n"}}) {
    SCOPED_TRACE(testing::Message() << offset << " " << int{lines});
    WriteBytes(Path("b.dir"), FileListRecordBytes("A", 0, 0, offset, lines));
    EXPECT_EQ(expected, Run("[@DESC@]"));
  }
}

}  // namespace
