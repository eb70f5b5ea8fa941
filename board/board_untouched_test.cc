// The board's files are only ever read: however a run ends, korvel.dat and
// every base's ".dir" and ".des" keep their bytes, their inode and their times.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "board/test_board.h"

namespace {

std::string BytesAndTimes(const std::string& path) {
  struct stat s {};
  if (stat(path.c_str(), &s) != 0) return "missing";
  auto time = [](const timespec& t) {
    return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
  };
  return ReadBytes(path) + "|inode " + std::to_string(s.st_ino) + " mtime " +
         time(s.st_mtim) + " ctime " + time(s.st_ctim);
}

class BoardUntouchedTest : public TempDirTest {};

TEST_F(BoardUntouchedTest, NoKindOfRunChangesTheBoardFiles) {
  WriteConfig();
  WriteBase("good", {{"A.ZIP", 1536, 0, {"one", "two"}}, {"B.ZIP", 1, 4, {}}});
  // The second line of C.ZIP's description lies past the end of bad.des.
  WriteBytes(Path("bad.dir"), FileListRecordBytes("C.ZIP", 1, 0, 0, 2));
  WriteBytes(Path("bad.des"), "\x03one");
  WriteBytes(Path("page"), "<!--PELLIDOR:good,g-->\n");
  WriteBytes(Path("both"), "<!--PELLIDOR:good,g-->\n<!--PELLIDOR:bad,b-->\n");
  WriteBytes(Path("entry"), "@LNAME@ @DESC@\n");
  // Times long past, so that a write shows whatever the clock's grain.
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  std::map<std::string, std::string> before;
  for (const char* name :
       {"korvel.dat", "good.dir", "good.des", "bad.dir", "bad.des"}) {
    ASSERT_EQ(0, utimensat(AT_FDCWD, Path(name).c_str(), past, 0));
    before[name] = BytesAndTimes(Path(name));
  }
  // Success, a start-up "ERROR:" exit, and a fatal read past the end.
  for (auto [args, status] :
       std::vector<std::pair<std::vector<std::string>, int>>{
           {{".", "page", "entry", "entry", "out"}, 0},
           {{".", "page", "entry", "missing", "out"}, 1},
           {{".", "both", "entry", "NONE", "out"}, 100}}) {
    SCOPED_TRACE(args[1] + " " + args[3]);
    EXPECT_EQ(status, RunProgram(args, dir_).Status);
    if (status == 0) {
      EXPECT_EQ("a.zip one two\n", ReadBytes(Path("out")));
    }
    for (const auto& [name, state] : before) {
      EXPECT_EQ(state, BytesAndTimes(Path(name))) << name;
    }
  }
}

}  // namespace
