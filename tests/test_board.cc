#include "tests/test_board.h"

#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <regex>

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string MarkFatalReports(const std::string& text) {
  static const std::regex report(
      "Runtime error (\\d+) at 0x([0-9A-F]{8})\n  0x\\2\n(  0x[0-9A-F]{8}\n)*\n");
  return std::regex_replace(text, report, "@FATAL $1@\n");
}

int ExitStatus(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                : 128 + WTERMSIG(wait_status);
}
