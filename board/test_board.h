#ifndef BOARD_TEST_BOARD_H_
#define BOARD_TEST_BOARD_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_builder.h"

// Test helpers: a temporary directory per test, files in it, and runs of the
// built program as a child process.

// SetUp makes dir_, TearDown removes it with everything in it.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // dir_ + "/" + name.
  std::string Path(const std::string& name) const;
  // Writes a korvel.dat in dir_ whose ListDirectory is dir_ + "/".
  void WriteConfig() const;
  // Writes base.dir and base.des in dir_ from `files`.
  void WriteBase(const std::string& base,
                 const std::vector<BoardFile>& files) const;
  std::string dir_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// What a run of the program gave.
struct RunResult {
  int Status = -1;     // exit status, or 128 + signal number
  std::string Output;  // standard output, as bytes
};

// Runs the built program with `args` (the program name not included) in the
// working directory `cwd`, `input` on its standard input. A non-empty
// `prefix` is a command (found on PATH) that runs the program, such as one
// that drops privileges.
RunResult RunProgram(const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input = "",
                     const std::vector<std::string>& prefix = {});

#endif  // BOARD_TEST_BOARD_H_
