#include "tests/test_board.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool UnderEmulation() { return EMULATOR[0] != '\0'; }

// A shell changes directory and runs the program, its input and output
// files; SIGPIPE is left at its default.
RunResult RunProgram(const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input,
                     const std::vector<std::string>& prefix) {
  auto word = [](const std::string& text) {  // quoted for the shell
    std::string quoted = " '";
    for (char c : text) quoted += c == '\'' ? "'\\''" : std::string(1, c);
    return quoted + "'";
  };
  char in[] = "/tmp/pellidor-run-XXXXXX";
  close(mkstemp(in));
  const std::string out = std::string(in) + ".out";
  WriteBytes(in, input);
  std::string command = "cd" + word(cwd) + " && exec";
  for (const std::string& arg : prefix) command += word(arg);
  // The emulator's words never need quoting: a program and plain paths.
  if (UnderEmulation()) command += " " EMULATOR;
  command += word(PROGRAM);
  for (const std::string& arg : args) command += word(arg);
  int status = std::system((command + " <" + in + " >" + out).c_str());
  RunResult result = {
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
      ReadBytes(out)};
  unlink(in);
  unlink(out.c_str());
  return result;
}
