#ifndef TESTS_TEST_BOARD_H_
#define TESTS_TEST_BOARD_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/board_builder.h"

// Test helpers: a temporary directory per test, files in it, and runs of the
// built program as a child process.

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
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes a korvel.dat in dir_ whose ListDirectory is dir_ + "/".
  void WriteConfig() const {
    WriteBytes(Path("korvel.dat"), BoardConfigBytes(dir_ + "/"));
  }
  // Writes base.dir and base.des in dir_ from `files`.
  void WriteBase(const std::string& base,
                 const std::vector<BoardFile>& files) const {
    BaseBytes bytes = BuildBase(files);
    WriteBytes(Path(base + ".dir"), bytes.Dir);
    WriteBytes(Path(base + ".des"), bytes.Des);
  }
  std::string dir_;
};

// What a run of the program gave.
struct RunResult {
  int Status = -1;     // exit status, or 128 + signal number
  std::string Output;  // standard output, as bytes
  std::string Error;   // standard error, as bytes (RunCommand only)
};

// The program's greeting, its first console lines.
inline constexpr char kGreeting[] =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n";

// Takes a fatal I/O error report of error `number` off the front of `*text`:
// "Runtime error N at 0x" and 8 upper-case hex digits, a line "  0x" with the
// same digits, any more "  0x" lines of 8 such digits, an empty line. False
// when `*text` does not start with one.
bool ConsumeFatalReport(std::string_view* text, const std::string& number);

// The exit status of a waitpid status, 128 + the signal number for a death
// by signal.
int ExitStatus(int wait_status);

// True when the tests run the program under an emulator of another machine
// (a cross build), where a terminal or another user may not behave alike.
bool UnderEmulation();

// Runs the built program with `args` (the program name not included) in the
// working directory `cwd`, `input` on its standard input. A non-empty
// `prefix` is a command (found on PATH) that runs the program, such as one
// that drops privileges; the emulator of a cross build comes after it.
RunResult RunProgram(const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input = "",
                     const std::vector<std::string>& prefix = {});

// Runs the built program with `args` in `cwd` as a child that can do no
// harm: no file it writes may grow past 1 MiB, it is killed after 20
// seconds, and the descriptors in `closed` are closed before it starts.
// Standard input is the file at `input`; standard output is captured
// unless it is closed.
RunResult RunBounded(const std::vector<std::string>& args,
                     const std::string& cwd,
                     const std::string& input = "/dev/null",
                     const std::vector<int>& closed = {});

// Runs `argv` (found on PATH) in `cwd` as a child that can do no harm: no
// file it writes may grow past 1 MiB, it leads its own process group, and
// the whole group is killed after 20 seconds, or when the child ends.
// Standard input is the file at `input`; standard output and error are
// captured. In the child's environment $PELLIDOR runs the built program and
// $MAKE_BOARD the built make_board (each with the emulator of a cross
// build), and PELLIDOR_CODEPAGE is unset.
RunResult RunCommand(const std::vector<std::string>& argv,
                     const std::string& cwd,
                     const std::string& input = "/dev/null");

#endif  // TESTS_TEST_BOARD_H_
