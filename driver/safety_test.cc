// Runs the built program where a slip of the hand or an odd start could cost
// an input: an output that is one of the inputs, closed standard
// descriptors, errors whose numbers must not be taken for others, and
// templates whose reads come back short. Every run is bounded: no file it
// writes grows past 1 MiB and it is killed after 20 seconds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_board.h"

namespace {

using Args = std::vector<std::string>;
const std::string kWorking =
    "\nPELLIDOR : Converts Korvel File Bases to HTML Listings\n"
    "  v1.0   : Compatible with Korvel v1.07.3\n\n- Working ... \n";

// The console text of a fatal I/O error `number` after the start-up checks.
std::regex FatalReport(int number) {
  return std::regex(kWorking + "Runtime error " + std::to_string(number) +
                    " at 0x(\\w{8})\n  0x\\1\n(  0x\\w{8}\n)*\n");
}

class SafetyTest : public TempDirTest {
 protected:
  // A board of one base "b" in dir_, and the three templates.
  void SetUp() override {
    TempDirTest::SetUp();
    // More than the one record, so that a korvel.dat read as a template
    // would show.
    WriteBytes(Path("korvel.dat"),
               BoardConfigBytes(dir_ + "/") + "past the record\n");
    WriteBase("b", {{"A.ZIP", 1, 0, {}}, {"B.ZIP", 2, 0, {}}});
    WriteBytes(Path("page"), "<!--PELLIDOR:b,/f/-->\n");
    WriteBytes(Path("entry"), "@LNAME@\n");
    WriteBytes(Path("alt"), "alt @LNAME@\n");
  }
  // Notes the bytes of every input file.
  void Keep() {
    for (auto name : {"korvel.dat", "b.dir", "b.des", "page", "entry", "alt",
                      "lists/x_b.dir", "lists/x_b.des", "unused.dir"}) {
      kept_[name] = ReadBytes(Path(name));
    }
  }
  // The names of the input files that changed since Keep; each gets its
  // bytes back, in the same file, so that one fault shows in one row.
  std::string Changed() const {
    std::string changed;
    for (const auto& [name, bytes] : kept_) {
      if (ReadBytes(Path(name)) == bytes) continue;
      changed += name + " ";
      WriteBytes(Path(name), bytes);
    }
    return changed;
  }
  std::map<std::string, std::string> kept_;
};

TEST_F(SafetyTest, OutputThatIsAnInputIsRefusedAndKept) {
  ASSERT_EQ(0, link(Path("entry").c_str(), Path("entry.link").c_str()));
  ASSERT_EQ(0, link(Path("b.des").c_str(), Path("copy").c_str()));
  ASSERT_EQ(0, symlink("b.dir", Path("sym").c_str()));
  WriteBytes(Path("unused.dir"), "x");
  // A board whose list directory is a prefix: lists/x_b.dir and x_b.des.
  std::filesystem::create_directories(Path("p"));
  std::filesystem::create_directories(Path("lists"));
  WriteBytes(Path("p/korvel.dat"), BoardConfigBytes(dir_ + "/lists/x_"));
  WriteBytes(Path("lists/x_b.dir"), ReadBytes(Path("b.dir")));
  WriteBytes(Path("lists/x_b.des"), ReadBytes(Path("b.des")));
  Keep();
  const std::pair<Args, std::string> rows[] = {
      {{".", "page", "entry", "alt", "korvel.dat"}, "/dev/null"},
      {{".", "page", "entry", "alt", "page"}, "/dev/null"},
      {{".", "page", "entry", "alt", "./entry"}, "/dev/null"},
      {{".", "page", "entry", "alt", "entry.link"}, "/dev/null"},
      {{dir_, "page", "entry", "alt", dir_ + "/alt"}, "/dev/null"},
      {{".", "page", "entry", "NONE", "b.dir"}, "/dev/null"},
      {{".", "page", "entry", "NONE", "copy"}, "/dev/null"},
      {{".", "page", "entry", "NONE", "sym"}, "/dev/null"},
      {{".", "page", "entry", "NONE", "unused.dir"}, "/dev/null"},
      {{"p", "page", "entry", "NONE", "lists/x_b.des"}, "/dev/null"},
      // The page template is standard input, and standard input the page.
      {{".", "", "entry", "NONE", "page"}, Path("page")},
  };
  for (const auto& [args, input] : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult run = RunBounded(args, dir_, input);
    EXPECT_EQ(5, run.Status);
    EXPECT_TRUE(std::regex_match(run.Output, FatalReport(5))) << run.Output;
    EXPECT_EQ("", Changed());
  }
  // A template that is not opened, and a device, may well be the output.
  const Args allowed[] = {{".", "page", "entry", "none", "alt"},
                          {".", "/dev/null", "entry", "NONE", "/dev/null"}};
  for (const Args& args : allowed) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(0, RunBounded(args, dir_).Status);
  }
  EXPECT_EQ("a.zip\nb.zip\n", ReadBytes(Path("alt")));
}

// No file of the run takes a closed descriptor 0, 1 or 2: korvel.dat is not
// read as the page template, and the page does not go to korvel.dat.
TEST_F(SafetyTest, ClosedStandardDescriptorsAreNotBorrowed) {
  if (UnderEmulation()) {
    GTEST_SKIP() << "the emulator's own files take the closed descriptors "
                    "before the program starts";
  }
  Keep();
  const std::tuple<std::vector<int>, Args, std::string> rows[] = {
      {{0}, {".", "", "entry", "NONE", "out"}, ""},
      {{1}, {".", "page", "entry", "alt", ""}, ""},
      {{0, 1, 2}, {".", "page", "entry", "alt", "out"}, "a.zip\nalt b.zip\n"},
  };
  for (const auto& [closed, args, page] : rows) {
    SCOPED_TRACE(testing::PrintToString(closed));
    std::filesystem::remove(Path("out"));
    RunResult run = RunBounded(args, dir_, "/dev/null", closed);
    EXPECT_EQ(0, run.Status);
    EXPECT_EQ(closed == std::vector<int>{0} ? kWorking : "", run.Output);
    EXPECT_EQ(page, ReadBytes(Path("out")));
    EXPECT_EQ("", Changed());
  }
}

// Errors whose own values mean something else in the table get ours.
TEST_F(SafetyTest, ErrorsKeepTheirMeaning) {
  // A sealed memory file may not be emptied (EPERM).
  int sealed = memfd_create("sealed", MFD_ALLOW_SEALING);
  ASSERT_LE(0, sealed);
  ASSERT_EQ(1, write(sealed, "x", 1));
  ASSERT_EQ(0, fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_WRITE));
  // A socket cannot be opened as a file (ENXIO).
  int socket_fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  Path("sock").copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(0, bind(socket_fd, reinterpret_cast<sockaddr*>(&address),
                    sizeof address));
  const std::pair<std::string, int> rows[] = {
      {"/proc/self/fd/" + std::to_string(sealed), 5}, {"sock", 2}};
  for (const auto& [output, status] : rows) {
    SCOPED_TRACE(output);
    RunResult run = RunBounded({".", "page", "entry", "NONE", output}, dir_);
    EXPECT_EQ(status, run.Status);
    EXPECT_TRUE(std::regex_match(run.Output, FatalReport(status)))
        << run.Output;
  }
  close(sealed);
  close(socket_fd);
}

// Files under /proc tell a size of 0 and give a few KiB per read: here the
// memory map of an idle child, which stays as it is while the child waits.
TEST_F(SafetyTest, ProcFileTemplatesAreReadWhole) {
#ifdef __i386__
  if (UnderEmulation()) {
    GTEST_SKIP() << "a forked copy of a test run under qemu-i386 hangs";
  }
#endif
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t idle = fork();
  if (idle == 0) {
    // Pages that differ from their neighbours are lines of their own.
    for (int i = 0; i < 400; ++i) {
      mmap(nullptr, 4096, i % 2 ? PROT_READ : PROT_NONE,
           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    (void)!write(ready[1], "", 1);
    pause();
    _exit(0);
  }
  ASSERT_LT(0, idle);
  close(ready[1]);
  char byte;
  pollfd child_ready = {ready[0], POLLIN, 0};
  if (poll(&child_ready, 1, 10000) != 1 || read(ready[0], &byte, 1) != 1) {
    kill(idle, SIGKILL);
    waitpid(idle, nullptr, 0);
    close(ready[0]);
    FAIL() << "the idle child did not start";
  }
  close(ready[0]);
  const std::string proc = "/proc/" + std::to_string(idle) + "/maps";
  const std::string bytes = ReadBytes(proc);
  EXPECT_LT(3 * 4096u, bytes.size());
  const std::pair<Args, std::string> rows[] = {
      {{".", proc, "entry", "NONE", "out"}, bytes},
      {{".", "page", proc, "NONE", "out"}, bytes + bytes},
  };
  for (const auto& [args, page] : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(0, RunBounded(args, dir_).Status);
    EXPECT_EQ(page, ReadBytes(Path("out")));
  }
  kill(idle, SIGKILL);
  waitpid(idle, nullptr, 0);
}

}  // namespace
