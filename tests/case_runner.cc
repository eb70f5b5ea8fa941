// Runs the black-box cases: every tests/cases/**/*.case file holds cases,
// each a run of the built program in a fresh temporary directory, removed
// afterwards. One GoogleTest test per case, named after file and title.
//
// Lines before the first section are comment. A line "--- KEYWORD [ARG]"
// starts a section; "=== TITLE" starts a case. Sections before the first
// "===" belong to every case of the file and come first; a file without
// "===" is one case named after the file. Sections:
//   --- board         make_board's board text (no escapes decoded), built
//                     into the case directory by make_board
//   --- file PATH     content becomes file PATH (folders made)
//   --- sh            /bin/sh -e script run after files and boards; must
//                     succeed
//   --- run           one line for /bin/sh -c, input /dev/null
//   --- status N      expected exit status, 128+S for signal S; default 0
//   --- stdout        expected standard output; unchecked when absent
//   --- stderr        expected standard error; empty when absent
//   --- expect PATH   expected bytes of file PATH after the run
//   --- absent PATH   PATH does not exist after the run
//   --- after         /bin/sh -e script run after the program; must succeed
//   --- native        the case is skipped under emulation (cross builds)
// A case's own board, run, status, stdout or stderr replaces the file's;
// files, scripts, expect and absent sections add up.
// Content (file, stdout, stderr, expect): each line ends in LF; escapes
// \\ \xHH \r \t \e; a "\" ending a line joins it to the next. A content line
// beginning "--- " or "=== " is written "\x2d-- " or "\x3d== ". In stdout
// and stderr, whole lines @GREETING@, @WORKING@ and @FATAL N@ stand for the
// greeting, the greeting and "- Working ... ", and a fatal report of error N.
// Scripts and the run line find in their environment: $PELLIDOR (the built
// program, with the emulator of a cross build), $MAKE_BOARD, and, added
// since, $ADDR2LINE (addr2line -e the program, for the target machine) and
// $SOURCE_DIR (the source tree); PELLIDOR_CODEPAGE is unset. Every run is
// bounded (RunCommand): 1 MiB per file, 20 seconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_board.h"

namespace {

namespace fs = std::filesystem;

struct Section {
  std::string Keyword, Argument, Text;
};

struct Case {
  std::string Title;
  int Line;
  std::vector<Section> Sections;
};

// The last section named `keyword`, or null.
const Section* Last(const Case& c, const std::string& keyword) {
  const Section* last = nullptr;
  for (const Section& s : c.Sections) last = s.Keyword == keyword ? &s : last;
  return last;
}

std::vector<Case> ParseCases(const std::string& text, const std::string& name) {
  std::vector<Case> cases = {{name, 1, {}}};  // the sections they share
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::vector<Section>& into = cases.back().Sections;
    if (line.starts_with("=== ")) {
      cases.push_back({line.substr(4), number, cases[0].Sections});
    } else if (line.starts_with("--- ")) {
      size_t blank = std::min(line.find(' ', 4), line.size());
      into.push_back({line.substr(4, blank - 4), line.substr(blank), ""});
      if (!into.back().Argument.empty()) into.back().Argument.erase(0, 1);
    } else if (!into.empty()) {
      into.back().Text += line + "\n";
    }
  }
  if (cases.size() > 1) cases.erase(cases.begin());
  return cases;
}

// The bytes that content lines stand for.
std::string Decode(const std::string& text) {
  std::string bytes;
  // A content line always ends in LF, so a "\" is never the last byte.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (text[++i] == 'x') {
      bytes += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (text[i] != '\n') {
      const std::string from = "\\rte", to = "\\\r\t\x1b";
      EXPECT_NE(from.npos, from.find(text[i])) << "escape \\" << text[i];
      bytes += to[from.find(text[i]) % 4];
    }
  }
  return bytes;
}

// An expected console text, its macros replaced but @FATAL N@.
std::string Console(const std::string& text) {
  std::string bytes, line;
  std::istringstream lines(text);
  while (std::getline(lines, line)) {
    if (line == "@GREETING@" || line == "@WORKING@") {
      bytes += kGreeting + std::string(line[1] == 'W' ? "- Working ... \n" : "");
    } else {
      bytes += Decode(line + "\n");
    }
  }
  return bytes;
}

bool RunScript(const std::string& script, const std::string& dir) {
  RunResult run = RunCommand({"/bin/sh", "-ec", script}, dir);
  EXPECT_EQ(0, run.Status) << script << run.Output << run.Error;
  return run.Status == 0;
}

void RunIn(const Case& c, const std::string& dir) {
  for (const Section& s : c.Sections) {
    const std::string path = dir + "/" + s.Argument;
    if (&s == Last(c, "board")) {  // made by make_board, from beside dir
      WriteBytes(dir + ".board", s.Text);
      ASSERT_TRUE(RunScript("$MAKE_BOARD " + dir + ".board .", dir));
      fs::remove(dir + ".board");
    } else if (s.Keyword == "file") {
      fs::create_directories(fs::path(path).parent_path());
      WriteBytes(path, Decode(s.Text));
    }
  }
  for (const Section& s : c.Sections) {
    if (s.Keyword == "sh") {
      ASSERT_TRUE(RunScript(s.Text, dir));
    }
  }
  const Section* run_line = Last(c, "run");
  ASSERT_NE(nullptr, run_line) << "no run section";
  RunResult run = RunCommand({"/bin/sh", "-c", run_line->Text}, dir);
  const Section* status = Last(c, "status");
  EXPECT_EQ(status ? std::stoi(status->Argument) : 0, run.Status);
  const Section* out = Last(c, "stdout");
  if (out) {
    EXPECT_EQ(Console(out->Text), MarkFatalReports(run.Output));
  }
  const Section* err = Last(c, "stderr");
  EXPECT_EQ(Console(err ? err->Text : ""), MarkFatalReports(run.Error));
  for (const Section& s : c.Sections) {
    const std::string path = dir + "/" + s.Argument;
    if (s.Keyword == "expect") {
      EXPECT_TRUE(fs::exists(path)) << s.Argument;
      EXPECT_EQ(Decode(s.Text), ReadBytes(path)) << s.Argument;
    } else if (s.Keyword == "absent") {
      EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << s.Argument;
    } else if (s.Keyword == "after") {
      RunScript(s.Text, dir);
    }
  }
}

class CaseTest : public testing::Test {
 public:
  explicit CaseTest(const Case& c) : case_(c) {}
  void TestBody() override {
    if (Last(case_, "native")) {
      SKIP_UNDER_EMULATION(case_.Title) << " runs natively only";
    }
    char dir[] = "/tmp/pellidor-case-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    RunIn(case_, dir);
    // Whatever modes the case left, the directory goes.
    RunCommand({"chmod", "-R", "u+rwx", dir}, "/");
    fs::remove_all(dir);
  }

 private:
  const Case case_;
};

// A GoogleTest name: letters and digits, "_" for anything else.
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
    const fs::path name = fs::relative(file, CASES_DIR).replace_extension();
    for (const Case& c : ParseCases(ReadBytes(file), name.filename())) {
      testing::RegisterTest(
          Name(name).c_str(), Name(c.Title).c_str(), nullptr, nullptr,
          file.c_str(), c.Line,
          [c]() -> testing::Test* { return new CaseTest(c); });
    }
  }
  return RUN_ALL_TESTS();
}
