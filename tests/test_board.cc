#include "tests/test_board.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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
  // Spawned, not forked: a forked copy of a test run under qemu-i386 hangs.
  // The file-size limit is the test's own for the moment of the spawn, so
  // that the child starts with it.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addclose(&actions, out_fd);
  for (int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  struct rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  struct rlimit bounded = before;
  bounded.rlim_cur = 1 << 20;
  setrlimit(RLIMIT_FSIZE, &bounded);
  pid_t child = -1;
  int spawned =
      posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  setrlimit(RLIMIT_FSIZE, &before);
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  if (spawned != 0) {
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
