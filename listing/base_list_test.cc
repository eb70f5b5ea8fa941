// Runs the built program on small boards and checks the lists it writes:
// alternation, the tokens of entry templates and the failures of a base.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "board/records.h"
#include "board/test_board.h"

namespace {

using namespace std::string_literals;

const std::string kMarker = "<!--PELLIDOR:b,/f/-->\n";

// A file without a description.
BoardFile File(const std::string& name, int32_t size = 0, uint8_t flags = 0) {
  return {name, size, flags, {}};
}

std::string Failure(int code) {
  return "Runtime error " + std::to_string(code) + ", status " +
         std::to_string(code);
}

class BaseListTest : public TempDirTest {
 protected:
  // The page after a complete run; after a fatal error, the first line of
  // the report and the exit status, as Failure() gives them.
  std::string Outcome(const RunResult& run) const {
    if (run.Status == 0) return ReadBytes(Path("out"));
    size_t at = run.Output.find("Runtime error ");
    if (at == std::string::npos) return "status " + std::to_string(run.Status);
    return run.Output.substr(at, run.Output.find(" at 0x", at) - at) +
           ", status " + std::to_string(run.Status);
  }
  // Runs on the board in dir_ with `entry` as the entry template; the
  // console text is kept in console_.
  std::string Run(const std::string& entry, const std::string& page = kMarker,
                  const std::string& alternate = "NONE") {
    WriteConfig();
    WriteBytes(Path("page"), page);
    WriteBytes(Path("entry"), entry);
    RunResult run = RunProgram({".", "page", "entry", alternate, "out"}, dir_);
    console_ = run.Output;
    return Outcome(run);
  }
  std::string console_;
};

TEST_F(BaseListTest, AlternatesOverListedFilesAndRestartsPerMarker) {
  WriteBase("b", {File("1"), File("2"), File("3", 0, FLAG_EXCLUDED), File("4"),
                  File("5")});
  WriteBase("c", {File("6")});
  WriteBytes(Path("alt"), "A @LNAME@\r\n\r\n");
  // A directory named like NONE would fail the run if it were opened.
  for (auto none : {"NONE", "none", "NoNe"}) {
    std::filesystem::create_directory(Path(none));
  }
  const std::string page =
      kMarker + "<!--PELLIDOR:c,/f/-->\n" + "<!--pellidor:c,/f/-->\n" + kMarker;
  struct {
    std::string entry, alternate, b_list, c_list;
  } cases[] = {
      {"E @LNAME@", "alt", "E 1\nA 2\n\nE 4\nA 5\n\n", "E 6\n"},
      {"", "alt", "A 2\n\nA 5\n\n", ""},
      {"E @LNAME@", "NONE", "E 1\nE 2\nE 4\nE 5\n", "E 6\n"},
      {"E @LNAME@", "none", "E 1\nE 2\nE 4\nE 5\n", "E 6\n"},
      {"E @LNAME@", "NoNe", "E 1\nE 2\nE 4\nE 5\n", "E 6\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry + " " + c.alternate);
    EXPECT_EQ(c.b_list + c.c_list + c.c_list + c.b_list,
              Run(c.entry, page, c.alternate));
  }
}

TEST_F(BaseListTest, ListsEveryWholeRecordWithoutTheExcludedBit) {
  std::vector<BoardFile> files;
  for (int flags : {0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 251, 255}) {
    files.push_back(File(std::to_string(flags), 0, uint8_t(flags)));
  }
  WriteBase("b", files);
  const std::string dir = ReadBytes(Path("b.dir"));
  for (size_t extra : {0, 1, 117}) {
    SCOPED_TRACE(extra);
    // A part-record at the end is never read.
    WriteBytes(Path("b.dir"), dir + std::string(extra, 'x'));
    EXPECT_EQ("0\n1\n2\n3\n8\n251\n", Run("@LNAME@"));
  }
}

TEST_F(BaseListTest, ExpandsTokens) {
  WriteBase("b", {{"Demo.ZIP", 1536, 0, {"one", "two", "three"}}});
  const std::string a249(249, 'a');
  struct {
    std::string line, expected;
  } cases[] = {
      {"@lname@ @Uname@ @SIZEK@ @sizeb@ [@Desc@] @path@",
       "demo.zip DEMO.ZIP 1 1,536 [one two three] /f/"},
      {"@LNAME@ @lname@ @PATH@ @Path@", "demo.zip @lname@ /f/ @Path@"},
      {"@PATH@LNAME@", "/f/LNAME@"},
      {"@UNAME@@LNAME@@PATH@@@SIZEK", "DEMO.ZIPdemo.zip/f/@@SIZEK"},
      {"Ab\tcD \x80\x1a x\0y <@DESC@>"s,
       "Ab\tcD \x80\x1a x\0y <one two three>"s},
      {"", ""},
      // A line of exactly 255 bytes keeps its last token; a longer one is
      // cut before the tokens are looked for.
      {a249 + "@PATH@", a249 + "/f/"},
      {a249 + "a@PATH@", a249 + "a@PATH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.expected + "\n", Run(c.line + "\r\n"));
  }
}

TEST_F(BaseListTest, WritesSizesAndDescriptions) {
  const std::string x255(255, 'x');
  struct {
    BoardFile file;
    std::string expected;
  } cases[] = {
      {{"a", 1023, 0, {}}, "0 1,023 []"},
      {{"a", 1024, 0, {"one"}}, "1 1,024 [one]"},
      {{"a", 2047, 0, {"one", "two", "three"}}, "1 2,047 [one two three]"},
      {{"a", 1048576, 0, {"", ""}}, "1024 1,048,576 [ ]"},
      // The joined text keeps 255 bytes, so a full line loses its blank.
      {{"a", -1536, 0, {x255, "y"}}, "-1 -1,536 [" + x255 + "y]"},
      {{"a", 999, 0, {"y", x255}}, "0 999 [y " + x255 + "]"},
      {File("a", -1000), "0 -1,000 []"},
      {File("a", INT32_MIN), "-2097152 -2,147,483,648 []"},
  };
  std::vector<BoardFile> files;
  std::string expected;
  for (const auto& c : cases) {
    files.push_back(c.file);
    expected += c.expected + "\n";
  }
  WriteBase("b", files);
  EXPECT_EQ(expected, Run("@SIZEK@ @SIZEB@ [@DESC@]"));
}

TEST_F(BaseListTest, UnopenableFileListIsReportedInThePage) {
  std::filesystem::create_directory(Path("d.dir"));
  WriteBytes(Path("d.des"), "");
  WriteBytes(Path("f"), "");
  const std::string n241(241, 'n');
  for (std::string name : {"missing"s, "d"s, "f/x"s, ""s, n241}) {
    SCOPED_TRACE(name);
    // A marker line over 255 bytes loses its end, the "-->" with it.
    std::string message = "ERROR: Unable to create list for " + name;
    EXPECT_EQ("top\n" + message.substr(0, 255) + "\nend\n",
              Run("@LNAME@", "top\n<!--PELLIDOR:" + name + ",/f/-->\nend\n"));
    EXPECT_EQ(std::string::npos, console_.find("ERROR"));
  }
}

TEST_F(BaseListTest, MissingOrDirectoryDescriptionsEndTheRun) {
  for (std::string dir :
       {""s, FileListRecordBytes("X", 0, FLAG_EXCLUDED, 0, 0)}) {
    WriteBytes(Path("b.dir"), dir);
    std::filesystem::remove_all(Path("b.des"));
    EXPECT_EQ(Failure(2), Run("@LNAME@"));
    std::filesystem::create_directory(Path("b.des"));
    EXPECT_EQ(Failure(5), Run("@LNAME@"));
  }
}

TEST_F(BaseListTest, DescriptionOutsideTheStoreEndsTheRunUnlessNoLines) {
  struct {
    int32_t offset;
    uint8_t lines;
    std::string expected;
  } cases[] = {
      {0, 1, "[one]\n"},     {0, 2, Failure(100)}, {4, 1, Failure(100)},
      {7, 1, Failure(100)},  {7, 0, "[]\n"},       {1000, 0, "[]\n"},
      {-1, 1, Failure(100)}, {-1, 0, "[]\n"},      {INT32_MIN, 0, "[]\n"},
  };
  WriteBytes(Path("b.des"), "\x03one\x05tw");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " " << int{c.lines});
    WriteBytes(Path("b.dir"),
               FileListRecordBytes("A", 0, 0, c.offset, c.lines));
    EXPECT_EQ(c.expected, Run("[@DESC@]"));
  }
}

TEST_F(BaseListTest, EntryTemplateGoneSinceStartUpEndsTheRun) {
  WriteConfig();
  WriteBase("b", {File("A")});
  for (std::string name : {"2", "5"}) {
    WriteBytes(Path(name), "@LNAME@\n");
    ASSERT_EQ(0, mkfifo(Path("page" + name).c_str(), 0600));
    // The page template is read only after start-up has checked the entry
    // template and created the page: then the template goes away.
    std::thread feeder([&] {
      int fd = open(Path("page" + name).c_str(), O_WRONLY);
      for (int i = 0; i < 5000 && !std::filesystem::exists(Path("out" + name));
           ++i) {
        usleep(1000);
      }
      std::filesystem::remove(Path(name));
      if (name == "5") std::filesystem::create_directory(Path(name));
      (void)!write(fd, kMarker.data(), kMarker.size());
      close(fd);
    });
    RunResult run =
        RunProgram({".", "page" + name, name, "NONE", "out" + name}, dir_);
    feeder.join();
    EXPECT_EQ(Failure(std::stoi(name)), Outcome(run));
  }
}

}  // namespace
