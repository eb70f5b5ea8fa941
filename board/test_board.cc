#include "board/test_board.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

void TempDirTest::SetUp() {
  char pattern[] = "/tmp/pellidor-test-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  dir_ = pattern;
}

void TempDirTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TempDirTest::Path(const std::string& name) const {
  return dir_ + "/" + name;
}

void TempDirTest::WriteConfig() const {
  WriteBytes(Path("korvel.dat"), BoardConfigBytes(dir_ + "/"));
}

void TempDirTest::WriteBase(const std::string& base,
                            const std::vector<BoardFile>& files) const {
  BaseBytes bytes = BuildBase(files);
  WriteBytes(Path(base + ".dir"), bytes.Dir);
  WriteBytes(Path(base + ".des"), bytes.Des);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RunResult RunProgram(const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input,
                     const std::vector<std::string>& prefix) {
  RunResult result;
  // A child that never reads its input must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    close(in_pipe[0]);
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(out_pipe[1]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (const std::string& arg : prefix) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(const_cast<char*>(PROGRAM));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  // The input is small: a pipe holds it whole, so write it before reading.
  (void)!write(in_pipe[1], input.data(), input.size());
  close(in_pipe[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(out_pipe[0], buffer, sizeof buffer)) > 0) {
    result.Output.append(buffer, static_cast<size_t>(got));
  }
  close(out_pipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status)
                                    : 128 + WTERMSIG(status);
  return result;
}
