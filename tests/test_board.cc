#include "tests/test_board.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
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

RunResult RunBounded(const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input,
                     const std::vector<int>& closed) {
  char out[] = "/tmp/pellidor-run-XXXXXX";
  int out_fd = mkstemp(out);
  // The emulator's words, split at blanks, then the program.
  std::string emulator = EMULATOR;
  std::vector<char*> argv;
  for (char* word = strtok(emulator.data(), " "); word != nullptr;
       word = strtok(nullptr, " ")) {
    argv.push_back(word);
  }
  argv.push_back(const_cast<char*>(PROGRAM));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls from here to exec.
    int in_fd = open(input.c_str(), O_RDONLY);
    const struct rlimit limit = {1 << 20, 1 << 20};
    if (in_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
        chdir(cwd.c_str()) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      _exit(126);
    }
    if (in_fd > 2) close(in_fd);
    if (out_fd > 2) close(out_fd);
    for (int fd : closed) close(fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fd);
  if (child < 0) {
    unlink(out);
    return {};
  }
  int status = 0;
  const struct timespec tick = {0, 10 * 1000 * 1000};
  for (int waited = 0; waitpid(child, &status, WNOHANG) == 0; ++waited) {
    if (waited == 2000) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    nanosleep(&tick, nullptr);
  }
  RunResult result = {
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
      ReadBytes(out)};
  unlink(out);
  return result;
}
