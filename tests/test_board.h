#ifndef TESTS_TEST_BOARD_H_
#define TESTS_TEST_BOARD_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

// What the C++ tests and the case runner share.

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
#define SKIP_UNDER_EMULATION(why) \
  if (EMULATOR[0] != '\0') GTEST_SKIP() << why

#endif  // TESTS_TEST_BOARD_H_
