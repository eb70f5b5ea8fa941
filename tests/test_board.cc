#include "tests/test_board.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

bool UnderEmulation() { return EMULATOR[0] != '\0'; }

namespace {

// Waits for `child` until `deadline`; false if it still runs then.
bool WaitUntil(pid_t child, std::chrono::steady_clock::time_point deadline,
               int* status) {
  while (waitpid(child, status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(5000);
  }
  return true;
}

}  // namespace

RunResult RunCommand(const std::vector<std::string>& argv,
                     const std::string& cwd) {
  setenv("PELLIDOR", UnderEmulation() ? EMULATOR " " PROGRAM : PROGRAM, 1);
  setenv("MAKE_BOARD", MAKE_BOARD, 1);
  setenv("ADDR2LINE", ADDR2LINE " -e " PROGRAM, 1);
  setenv("SOURCE_DIR", SOURCE_DIR, 1);
  unsetenv("PELLIDOR_CODEPAGE");
  char out[] = "/tmp/pellidor-out-XXXXXX", err[] = "/tmp/pellidor-err-XXXXXX";
  const int out_fd = mkstemp(out), err_fd = mkstemp(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // A group of its own, so that all it starts can be killed at once.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(strdup(word.c_str()));
  words.push_back(nullptr);
  // Spawned, not forked: a forked copy of a test run under qemu-i386 hangs.
  // The file-size limit is the test's own for the moment of the spawn, so
  // that the child starts with it.
  struct rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  struct rlimit bounded = {1 << 20, before.rlim_max};
  setrlimit(RLIMIT_FSIZE, &bounded);
  pid_t child = -1;
  int spawned = posix_spawnp(&child, words[0], &actions, &attributes,
                             words.data(), environ);
  setrlimit(RLIMIT_FSIZE, &before);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (char* word : words) free(word);
  close(out_fd);
  close(err_fd);
  int status = 0;
  auto now = std::chrono::steady_clock::now;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
  } else if (!WaitUntil(child, now() + std::chrono::seconds(20), &status)) {
    ADD_FAILURE() << "killed after 20 s: " << testing::PrintToString(argv);
    kill(-child, SIGKILL);
    if (!WaitUntil(child, now() + std::chrono::seconds(10), &status)) {
      status = SIGKILL;
    }
  }
  if (spawned == 0) kill(-child, SIGKILL);  // what it left running
  RunResult result = {ExitStatus(status), ReadBytes(out), ReadBytes(err)};
  unlink(out);
  unlink(err);
  return result;
}
