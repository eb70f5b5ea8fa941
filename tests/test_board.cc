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

int ExitStatus(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                : 128 + WTERMSIG(wait_status);
}

namespace {

// Takes "  0x" and 8 upper-case hex digits and LF off `*text`, giving the
// digits in `*digits`.
bool ConsumeAddressLine(std::string_view* text, std::string_view* digits) {
  if (text->size() < 13 || !text->starts_with("  0x") || (*text)[12] != '\n' ||
      text->substr(4, 8).find_first_not_of("0123456789ABCDEF") != text->npos) {
    return false;
  }
  *digits = text->substr(4, 8);
  text->remove_prefix(13);
  return true;
}

}  // namespace

bool ConsumeFatalReport(std::string_view* text, const std::string& number) {
  // The first line is made to look like the address lines that follow.
  const std::string head = "Runtime error " + number + " at";
  if (!text->starts_with(head)) return false;
  std::string rest = " " + std::string(text->substr(head.size()));
  std::string_view lines = rest, first, second;
  if (!ConsumeAddressLine(&lines, &first) ||
      !ConsumeAddressLine(&lines, &second) || first != second) {
    return false;
  }
  while (ConsumeAddressLine(&lines, &second)) {
  }
  if (!lines.starts_with("\n")) return false;
  text->remove_prefix(text->size() - lines.size() + 1);
  return true;
}

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
      ReadBytes(out), ""};
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
      ReadBytes(out), ""};
  unlink(out);
  return result;
}

namespace {

double Seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// Waits for `child` until `deadline` (a Seconds() value); false if it is
// still running then.
bool WaitUntil(pid_t child, double deadline, int* status) {
  const struct timespec tick = {0, 5 * 1000 * 1000};
  while (waitpid(child, status, WNOHANG) == 0) {
    if (Seconds() > deadline) return false;
    nanosleep(&tick, nullptr);
  }
  return true;
}

}  // namespace

RunResult RunCommand(const std::vector<std::string>& argv,
                     const std::string& cwd, const std::string& input) {
  setenv("PELLIDOR", UnderEmulation() ? EMULATOR " " PROGRAM : PROGRAM, 1);
  setenv("MAKE_BOARD", MAKE_BOARD, 1);
  unsetenv("PELLIDOR_CODEPAGE");
  char out[] = "/tmp/pellidor-out-XXXXXX", err[] = "/tmp/pellidor-err-XXXXXX";
  int out_fd = mkstemp(out), err_fd = mkstemp(err);
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(strdup(word.c_str()));
  words.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // Its own process group, so that all it starts can be killed at once;
  // SIGPIPE at its default whatever the test runner does with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  // Spawned, not forked: a forked copy of a test run under qemu-i386 hangs.
  // The file-size limit is the test's own for the moment of the spawn, so
  // that the child starts with it.
  struct rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  struct rlimit bounded = before;
  bounded.rlim_cur = 1 << 20;
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
  RunResult result;
  int status = 0;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << strerror(spawned);
  } else if (!WaitUntil(child, Seconds() + 20, &status)) {
    ADD_FAILURE() << "killed after 20 s: " << testing::PrintToString(argv);
    kill(-child, SIGKILL);
    if (!WaitUntil(child, Seconds() + 10, &status)) status = SIGKILL;
  }
  // Whatever the child left running goes with it.
  if (spawned == 0) kill(-child, SIGKILL);
  result.Status = ExitStatus(status);
  result.Output = ReadBytes(out);
  result.Error = ReadBytes(err);
  unlink(out);
  unlink(err);
  return result;
}
