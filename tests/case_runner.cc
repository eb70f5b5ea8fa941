// Runs the black-box cases: every tests/cases/**/*.case file holds cases,
// each run in a fresh temporary directory, removed afterwards. One
// GoogleTest test per case, named after file and title.
//
// A line "=== NAME" starts a case: a short name, its prose on the lines
// below. A line "--- KEYWORD [ARG]" starts a section. Sections before the
// first "===" belong to every case of the file and come first; a file
// without "===" is one case named after the file. Lines before a file's or
// a case's first section are prose; a line beginning "#" is a comment in
// any section. Sections:
//   --- board         make_board's board text (no escapes decoded), built
//                     into the case directory by make_board
//   --- file PATH     content becomes file PATH (folders made)
//   --- sh            /bin/sh -e script run after files and boards; must
//                     succeed
//   --- run COMMAND   a run: COMMAND, or else the section's text, for
//                     /bin/sh -c, input /dev/null
//   --- status N      expected exit status, 128+S for signal S; default 0
//   --- stdout        expected standard output; unchecked when absent
//   --- stderr        expected standard error; empty when absent
//   --- expect PATH   expected bytes of file PATH after the run
//   --- after         /bin/sh -e script run after the run; must succeed
//   --- native        the case is skipped under emulation (cross builds)
// A case's own board replaces the file's, and its own runs the file's;
// files and sh scripts add up. The runs go in turn, in the same directory,
// each checked on its own: a check (status to after) belongs to the run
// above it, one above every run to every run. A run's last status, stdout,
// stderr, and expect of each path count; its after scripts add up.
// Content (file, stdout, stderr, expect): each line ends in LF; escapes
// \\ \xHH \r \t \e, and \{N} for the byte before it N times in all; a "\"
// ending a line joins it to the next. A content line beginning "--- ",
// "=== " or "#" is written "\x2d-- ", "\x3d== " or "\x23". In stdout
// and stderr, whole lines @GREETING@, @WORKING@ and @FATAL N@ stand for the
// greeting, the greeting and "- Working ... ", and a fatal report of error N;
// such a line may follow one that a "\" joins to it ("\e[m\" before
// @WORKING@ is the reset that precedes the greeting on a terminal).
// Scripts and runs find in their environment: $PELLIDOR (the built
// program, with the emulator of a cross build), $MAKE_BOARD, and, added
// since, $ADDR2LINE (addr2line -e the program, for the target machine) and
// $SOURCE_DIR (the source tree); PELLIDOR_CODEPAGE and PELLIDOR_LISTDIR
// are unset. Every run is bounded (RunCommand): 1 MiB per file, 20
// seconds. A failure names the case file's line of the run; a script runs
// traced, so that its failure shows the command that failed, the trace's
// last.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Section {
  std::string Keyword, Argument, Text;
  int Line;  // in the case file, for failures
};

struct Case {
  std::string File, Title;
  int Line;  // of its "===", before its own sections
  std::vector<Section> Sections;
  bool Native = false;
};

std::vector<Case> ParseCases(const std::string& text, const std::string& file,
                             const std::string& name) {
  std::vector<Case> cases = {{file, name, 1, {}}};  // the sections they share
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    Case& into = cases.back();
    size_t blank = std::min(line.find(' ', 4), line.size());  // after "--- x"
    if (line.starts_with("=== ")) {
      const Case& shared = cases[0];  // copied before the vector grows
      cases.push_back(
          {file, line.substr(4), number, shared.Sections, shared.Native});
    } else if (line.starts_with("--- ")) {
      const std::string keyword = line.substr(4, blank - 4);
      // A case's own board replaces the file's, its own runs the file's.
      std::erase_if(into.Sections, [&](const Section& s) {
        return s.Keyword == keyword &&
               (keyword == "board" || (keyword == "run" && s.Line < into.Line));
      });
      into.Sections.push_back(
          {keyword, line.substr(std::min(blank + 1, line.size())), "", number});
      into.Native |= keyword == "native";
    } else if (!into.Sections.empty() &&
               into.Sections.back().Line >= into.Line &&
               !line.starts_with("#")) {
      into.Sections.back().Text += line + "\n";
    }
  }
  if (cases.size() > 1) cases.erase(cases.begin());
  return cases;
}

// The bytes that content lines stand for; on the console, with the
// greeting's lines for their macros.
std::string Decode(const std::string& text, bool console = false) {
  const std::string greeting =
      "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
      "  v1.0   : Compatible with Korvel v1.07.3\n\n";
  std::string bytes;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (console && (line == "@GREETING@" || line == "@WORKING@")) {
      bytes += greeting + (line[1] == 'W' ? "- Working ... \n" : "");
      continue;
    }
    line += '\n';  // so a "\\" is never the last byte
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\\') {
        bytes += line[i];
      } else if (line[++i] == 'x') {
        bytes += char(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else if (line[i] == '{' && !bytes.empty()) {
        size_t count = std::stoul(line.substr(i + 1));
        bytes.append(std::max<size_t>(count, 1) - 1, bytes.back());
        i = line.find('}', i);
      } else if (line[i] != '\n') {
        const std::string from = "\\rte", to = "\\\r\t\x1b";
        EXPECT_NE(from.npos, from.find(line[i])) << "escape \\" << line[i];
        bytes += to[from.find(line[i]) % 4];
      }
    }
  }
  return bytes;
}

// `text` with each well-formed fatal report of error N (its place twice,
// then its callers' places, then an empty line) as the line "@FATAL N@".
std::string MarkFatalReports(const std::string& text) {
  static const std::regex report(
      "Runtime error (\\d+) at 0x([0-9A-F]{8})\n  0x\\2\n(  "
      "0x[0-9A-F]{8}\n)*\n");
  return std::regex_replace(text, report, "@FATAL $1@\n");
}

struct RunResult {
  int Status = -1;
  std::string Output, Error;
  bool Killed = false;  // for running past 20 s
};

// Runs `script` with /bin/sh `flags` in `dir` as a child that can do no
// harm: no file it writes may grow past 1 MiB, no process of it may spend
// more than 60 s of CPU (so that one left behind by a runner killed from
// outside still ends), it leads its own process group, and the whole group
// is killed when it ends or after 20 s. Standard input is /dev/null; output
// and error go to files beside `dir`.
RunResult RunCommand(const char* flags, const std::string& script,
                     const std::string& dir) {
  // 2048 blocks of 512 bytes: 1 MiB; 60 s of CPU.
  const char* wrapper =
      "cd \"$1\" && ulimit -f 2048 && ulimit -t 60 && "
      "exec </dev/null >\"$1.1\" 2>\"$1.2\" /bin/sh \"$2\" \"$3\"";
  const char* argv[] = {"/bin/sh",   "-c",  wrapper,        "sh",
                        dir.c_str(), flags, script.c_str(), nullptr};
  // Spawned, not forked: a forked copy of a test run under qemu-i386 hangs.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t child = -1;
  int failed =
      posix_spawn(&child, argv[0], nullptr, &attributes, (char**)argv, environ);
  posix_spawnattr_destroy(&attributes);
  EXPECT_EQ(0, failed) << script;
  // Polled every 5 ms, never blocked on: killed after 20 s, the group is
  // given 10 s more to go.
  int status = 0;
  int ms = 0;
  for (; !failed && waitpid(child, &status, WNOHANG) == 0; ms += 5) {
    if (ms == 20000) ADD_FAILURE() << "killed after 20 s: " << script;
    if (ms >= 20000 && ms % 1000 == 0) kill(-child, SIGKILL);
    if (ms == 30000) break;
    usleep(5000);
  }
  if (!failed) kill(-child, SIGKILL);  // all it left running
  // 128 + S for a death by signal S.
  status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {status, ReadBytes(dir + ".1"), ReadBytes(dir + ".2"), ms >= 20000};
}

// Runs a script section traced, so that a failure shows the command that
// failed: the trace's last.
bool RunScript(const Section& script, const std::string& dir) {
  RunResult run = RunCommand("-exc", script.Text, dir);
  EXPECT_EQ(0, run.Status) << "--- " << script.Keyword << " at line "
                           << script.Line << " failed; its trace:\n"
                           << run.Error << run.Output;
  return run.Status == 0;
}

// Runs the command of run[0] in `dir` and checks what it left by the
// sections after it; a failure names the run. False when the run had to be
// killed: the runs after it would only wait as long.
bool Check(const Case& c, const std::vector<const Section*>& run,
           const std::string& dir) {
  const Section& s = *run[0];
  const std::string command = s.Argument.empty() ? s.Text : s.Argument;
  testing::ScopedTrace trace(c.File.c_str(), s.Line, "run " + command);
  RunResult result = RunCommand("-c", command, dir);
  // The last of each check counts; of expect, the last per path.
  std::map<std::string, const Section*> last;
  for (const Section* check : run) {
    bool file = check->Keyword == "expect";
    last[file ? "/" + check->Argument : check->Keyword] = check;
  }
  const Section* status = last["status"];
  EXPECT_EQ(status ? std::stoi(status->Argument) : 0, result.Status);
  if (const Section* out = last["stdout"]) {
    EXPECT_EQ(Decode(out->Text, true), MarkFatalReports(result.Output));
  }
  const Section* err = last["stderr"];
  EXPECT_EQ(Decode(err ? err->Text : "", true), MarkFatalReports(result.Error));
  for (const auto& [key, check] : last) {
    if (key[0] != '/') continue;
    EXPECT_TRUE(fs::exists(dir + key)) << "--- expect " << check->Argument;
    EXPECT_EQ(Decode(check->Text), ReadBytes(dir + key))
        << "--- expect " << check->Argument;
  }
  for (const Section* check : run) {
    if (check->Keyword == "after") RunScript(*check, dir);
  }
  return !result.Killed;
}

void RunIn(const Case& c, const std::string& dir) {
  for (const Section& s : c.Sections) {
    if (s.Keyword == "board") {  // made by make_board, from beside dir
      std::ofstream(dir + ".board", std::ios::binary) << s.Text;
      Section make = {"board", "", "$MAKE_BOARD " + dir + ".board .", s.Line};
      ASSERT_TRUE(RunScript(make, dir));
    } else if (s.Keyword == "file") {
      fs::create_directories(fs::path(dir + "/" + s.Argument).parent_path());
      std::ofstream(dir + "/" + s.Argument, std::ios::binary) << Decode(s.Text);
    }
  }
  for (const Section& s : c.Sections) {
    if (s.Keyword == "sh" && !RunScript(s, dir)) return;
  }
  // Each run with the sections after it, behind those above every run.
  std::vector<std::vector<const Section*>> runs;
  std::vector<const Section*> every;
  for (const Section& s : c.Sections) {
    if (s.Keyword == "run") {
      runs.push_back(every);
      runs.back().insert(runs.back().begin(), &s);
    } else {
      (runs.empty() ? every : runs.back()).push_back(&s);
    }
  }
  ASSERT_FALSE(runs.empty()) << "no run section";
  for (const auto& run : runs) {
    if (!Check(c, run, dir)) break;
  }
}

struct CaseTest : testing::Test {
  Case c;
  explicit CaseTest(const Case& of) : c(of) {}
  void TestBody() override {
    if (c.Native && EMULATOR[0] != '\0') GTEST_SKIP() << "not under emulation";
    char root[] = "/tmp/pellidor-case-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(root));
    const std::string dir = root + std::string("/case");
    fs::create_directory(dir);
    RunIn(c, dir);
    // Whatever modes the case left, the directory goes.
    RunCommand("-c", "chmod -R u+rwx .", dir);
    fs::remove_all(root);
  }
};

// A GoogleTest name: letters and digits, "_" for anything else.
std::string Name(const std::string& text) {
  return std::regex_replace(text, std::regex("[^A-Za-z0-9]"), "_");
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  setenv("PELLIDOR", EMULATOR[0] ? EMULATOR " " PROGRAM : PROGRAM, 1);
  setenv("MAKE_BOARD", MAKE_BOARD, 1);
  setenv("ADDR2LINE", ADDR2LINE " -e " PROGRAM, 1);
  setenv("SOURCE_DIR", SOURCE_DIR, 1);
  unsetenv("PELLIDOR_CODEPAGE");
  unsetenv("PELLIDOR_LISTDIR");
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(CASES_DIR)) {
    if (entry.path().extension() == ".case") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const fs::path name = fs::relative(file, CASES_DIR).replace_extension();
    for (const Case& c : ParseCases(ReadBytes(file), file, name.filename())) {
      testing::RegisterTest(
          Name(name).c_str(), Name(c.Title).c_str(), nullptr, nullptr,
          file.c_str(), c.Line,
          [c]() -> testing::Test* { return new CaseTest(c); });
    }
  }
  int status = RUN_ALL_TESTS();
  // A name that no case has any more (a list of tests made before its case
  // was renamed) fails rather than passes with nothing run.
  return testing::UnitTest::GetInstance()->test_to_run_count() > 0 ? status : 1;
}
