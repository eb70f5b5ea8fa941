// Runs the black-box cases: every tests/cases/**/*.case file holds cases,
// each a run of the built program in a fresh temporary directory, removed
// afterwards. One GoogleTest test per case, named after file and title.
//
// Lines before the first section are comment. A line "--- KEYWORD [ARG]"
// starts a section; "=== TITLE" starts a case. Sections before the first
// "===" belong to every case of the file and come first; a file without
// "===" is one case named after the file. Sections:
//   --- board         make_board's board text (no escapes decoded), built
//                     into the case directory as make_board would
//   --- file PATH     content becomes file PATH (folders made)
//   --- sh            /bin/sh -e script run after files and boards; must
//                     succeed
//   --- run           one line for /bin/sh -c: $PELLIDOR, $MAKE_BOARD;
//                     input /dev/null; PELLIDOR_CODEPAGE unset
//   --- status N      expected exit status, 128+S for signal S; default 0
//   --- stdout        expected standard output; unchecked when absent
//   --- stderr        expected standard error; empty when absent
//   --- expect PATH   expected bytes of file PATH after the run
//   --- absent PATH   PATH does not exist after the run
//   --- after         /bin/sh -e script run after the program; must succeed
//   --- native        the case is skipped under emulation (cross builds)
// Where a case gives a section that is single (board, run, status, stdout,
// stderr), its own counts; files, scripts, expect and absent add up.
// Content (file, stdout, stderr, expect): each line ends in LF; escapes
// \\ \xHH \r \t \e; a "\" ending a line joins it to the next. A content line
// beginning "--- " or "=== " is written "\x2d-- " or "\x3d== ". In stdout
// and stderr, whole lines @GREETING@, @WORKING@ and @FATAL N@ stand for the
// greeting, the greeting and "- Working ... ", and a fatal report of error N.
// Every run is bounded (RunCommand): 1 MiB per file, 20 seconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/test_board.h"
#include "tools/board_text.h"

namespace {

namespace fs = std::filesystem;

struct Section {
  std::string Keyword, Argument, Text;
};

struct Case {
  std::string File, Title;
  int Line = 1;
  std::vector<Section> Sections;
  // The last section named `keyword`, or null.
  const Section* Last(std::string_view keyword) const {
    const Section* last = nullptr;
    for (const Section& s : Sections) last = s.Keyword == keyword ? &s : last;
    return last;
  }
};

std::vector<Case> ParseCases(const std::string& file, const std::string& text) {
  std::vector<Section> common;
  std::vector<Case> cases;
  std::vector<Section>* into = &common;
  size_t start = 0;
  for (int line = 1; start < text.size(); ++line) {
    size_t end = std::min(text.find('\n', start), text.size());
    std::string_view row(text.data() + start, end - start);
    start = end + 1;
    if (row.starts_with("=== ")) {
      cases.push_back({file, std::string(row.substr(4)), line, common});
      into = &cases.back().Sections;
    } else if (row.starts_with("--- ")) {
      row.remove_prefix(4);
      size_t blank = std::min(row.find(' '), row.size());
      into->push_back({std::string(row.substr(0, blank)),
                       std::string(row.substr(std::min(blank + 1, row.size()))),
                       ""});
    } else if (!into->empty()) {
      into->back().Text.append(row).push_back('\n');
    }
  }
  if (cases.empty()) cases.push_back({file, fs::path(file).stem(), 1, common});
  return cases;
}

// The bytes that content lines stand for.
std::string Decode(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'x' && i + 2 < text.size()) {
      bytes += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else if (c != '\n') {
      std::string_view from = "\\rte", to = "\\\r\t\x1b";
      EXPECT_NE(from.npos, from.find(c)) << "unknown escape \\" << c;
      bytes += to[std::min(from.find(c), to.size() - 1)];
    }
  }
  return bytes;
}

// An expected console text: literal bytes, each followed by the error number
// of a fatal report ("" for none).
using Expected = std::vector<std::pair<std::string, std::string>>;

Expected ParseExpected(const std::string& text) {
  Expected expected = {{"", ""}};
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start) + 1;
    std::string line = text.substr(start, end - start);
    start = end;
    std::string& bytes = expected.back().first;
    if (line == "@GREETING@\n" || line == "@WORKING@\n") {
      bytes += kGreeting;
      if (line == "@WORKING@\n") bytes += "- Working ... \n";
    } else if (line.starts_with("@FATAL ") && line.ends_with("@\n")) {
      expected.back().second = line.substr(7, line.size() - 9);
      expected.push_back({"", ""});
    } else {
      bytes += Decode(line);
    }
  }
  return expected;
}

bool Matches(std::string_view actual, const Expected& expected) {
  for (const auto& [bytes, fatal] : expected) {
    if (!actual.starts_with(bytes)) return false;
    actual.remove_prefix(bytes.size());
    if (!fatal.empty() && !ConsumeFatalReport(&actual, fatal)) return false;
  }
  return actual.empty();
}

// The expected text as the reader of a failure wants to see it.
std::string Shown(const Expected& expected) {
  std::string shown;
  for (const auto& [bytes, fatal] : expected) {
    shown += bytes;
    if (!fatal.empty()) shown += "Runtime error " + fatal + " at 0x...\n...\n";
  }
  return shown;
}

void CheckConsole(const Case& c, const char* keyword, const std::string& got,
                  bool unchecked_when_absent) {
  const Section* section = c.Last(keyword);
  if (section == nullptr && unchecked_when_absent) return;
  Expected expected = ParseExpected(section ? section->Text : "");
  if (!Matches(got, expected)) {
    EXPECT_EQ(Shown(expected), got) << keyword;
  }
}

// Runs a shell script or line in `dir`; true when it exits with 0.
bool RunScript(const std::string& flags, const std::string& script,
               const std::string& dir) {
  RunResult run = RunCommand({"/bin/sh", flags, script}, dir);
  EXPECT_EQ(0, run.Status) << script << run.Output << run.Error;
  return run.Status == 0;
}

void BuildBoard(const std::string& text, const std::string& dir) {
  BoardText board;
  std::string error;
  size_t line = ParseBoardText(text, &board, &error);
  ASSERT_EQ(0u, line) << "board line " << line << ": " << error;
  WriteBytes(dir + "/korvel.dat", BoardConfigBytes(board.ListDirectory));
  for (const TextBase& base : board.Bases) {
    BaseBytes bytes = BuildBase(base.Files);
    WriteBytes(dir + "/" + base.Name + ".dir", bytes.Dir);
    WriteBytes(dir + "/" + base.Name + ".des", bytes.Des);
  }
}

void RunIn(const Case& c, const std::string& dir) {
  for (const Section& s : c.Sections) {
    if (s.Keyword == "board" && &s == c.Last("board")) {
      ASSERT_NO_FATAL_FAILURE(BuildBoard(s.Text, dir));
    } else if (s.Keyword == "file") {
      fs::create_directories(fs::path(dir + "/" + s.Argument).parent_path());
      WriteBytes(dir + "/" + s.Argument, Decode(s.Text));
    }
  }
  for (const Section& s : c.Sections) {
    if (s.Keyword == "sh") {
      ASSERT_TRUE(RunScript("-ec", s.Text, dir));
    }
  }
  const Section* run_line = c.Last("run");
  ASSERT_NE(nullptr, run_line) << "no run section";
  std::string line = run_line->Text.substr(0, run_line->Text.find('\n'));
  RunResult run = RunCommand({"/bin/sh", "-c", line}, dir);
  const Section* status = c.Last("status");
  EXPECT_EQ(status ? std::stoi(status->Argument) : 0, run.Status) << line;
  CheckConsole(c, "stdout", run.Output, true);
  CheckConsole(c, "stderr", run.Error, false);
  for (const Section& s : c.Sections) {
    const std::string path = dir + "/" + s.Argument;
    if (s.Keyword == "expect") {
      EXPECT_TRUE(fs::exists(path)) << s.Argument;
      EXPECT_EQ(Decode(s.Text), ReadBytes(path)) << s.Argument;
    } else if (s.Keyword == "absent") {
      EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << s.Argument;
    } else if (s.Keyword == "after") {
      RunScript("-ec", s.Text, dir);
    }
  }
}

class CaseTest : public testing::Test {
 public:
  explicit CaseTest(const Case& c) : case_(c) {}
  void TestBody() override {
    if (case_.Last("native") && UnderEmulation()) {
      GTEST_SKIP() << "not under emulation: " << case_.Title;
    }
    char pattern[] = "/tmp/pellidor-case-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    RunIn(case_, pattern);
    // A case may leave folders it cannot be removed from.
    std::error_code failed;
    if (fs::remove_all(pattern, failed) == uintmax_t(-1)) {
      RunCommand({"chmod", "-R", "u+rwx", pattern}, "/");
      fs::remove_all(pattern);
    }
  }

 private:
  const Case case_;
};

// GoogleTest names: letters and digits, "_" for anything else.
std::string Name(std::string text) {
  for (char& c : text) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(CASES_DIR)) {
    if (entry.path().extension() == ".case") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string relative =
        fs::relative(file, CASES_DIR).replace_extension().string();
    for (const Case& c : ParseCases(file, ReadBytes(file))) {
      testing::RegisterTest(Name(relative).c_str(), Name(c.Title).c_str(),
                            nullptr, nullptr, c.File.c_str(), c.Line,
                            [c]() -> testing::Test* { return new CaseTest(c); });
    }
  }
  return RUN_ALL_TESTS();
}
