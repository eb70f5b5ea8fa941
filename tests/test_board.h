#ifndef TESTS_TEST_BOARD_H_
#define TESTS_TEST_BOARD_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

// What the tests share: files, the program's constant texts, and runs of
// child processes that can do no harm.

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// SetUp makes dir_, TearDown removes it with everything in it.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pellidor-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// The program's greeting, its first console lines.
inline constexpr char kGreeting[] =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n";

// `text` with each well-formed fatal report of error N (its place twice,
// then its callers' places, then an empty line) replaced by "@FATAL N@\n".
std::string MarkFatalReports(const std::string& text);

// The exit status of a wait status; 128 + S for a death by signal S.
int ExitStatus(int wait_status);

// True in a cross build, where the program runs under an emulator.
bool UnderEmulation();
#define SKIP_UNDER_EMULATION(why) \
  if (UnderEmulation()) GTEST_SKIP() << why

struct RunResult {
  int Status = -1;
  std::string Output, Error;  // standard output and error
};

// Runs `argv` (found on PATH) in `cwd` as a child that can do no harm: no
// file it writes may grow past 1 MiB, it leads its own process group, and
// the whole group is killed when it ends or after 20 s. Standard input is
// /dev/null. Its environment has $PELLIDOR, the built program (with the
// emulator of a cross build), $MAKE_BOARD, $ADDR2LINE (addr2line -e the
// program) and $SOURCE_DIR; PELLIDOR_CODEPAGE is unset.
RunResult RunCommand(const std::vector<std::string>& argv,
                     const std::string& cwd);

#endif  // TESTS_TEST_BOARD_H_
