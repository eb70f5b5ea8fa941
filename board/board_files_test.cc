#include "board/board_files.h"

#include <gtest/gtest.h>

#include <string>

#include "board/file_io.h"
#include "board/test_board.h"

namespace {

using namespace std::string_literals;

class BoardFilesTest : public TempDirTest {
 protected:
  // Writes `bytes` to dir_/name; gives the path.
  ShortText Write(const std::string& name, const std::string& bytes) const {
    WriteBytes(Path(name), bytes);
    return MakeShortText(Path(name));
  }
};

std::string Fields(const FileListRecord& r) {
  return std::string(View(r.Name)) + " " + std::to_string(r.Size) + " " +
         std::to_string(r.Flags) + " " + std::to_string(r.DescriptionOffset) +
         " " + std::to_string(r.DescriptionLines);
}

// The lines joined with "|", or the error number.
std::string Lines(const DescriptionStore& store, int32_t offset, int lines) {
  Description d;
  int error = ReadDescription(store, offset, uint8_t(lines), &d);
  if (error != 0) return "error " + std::to_string(error);
  std::string joined;
  for (int i = 0; i < d.Count; ++i) {
    joined += (i > 0 ? "|" : "") + std::string(DescriptionLine(d, i));
  }
  return joined;
}

// Fields are found at their own offsets, not at the builder's: bytes written
// by hand, with the uninterpreted ones filled so that a slip shows.
TEST_F(BoardFilesTest, DecodesFileListRecordsFromHandWrittenBytes) {
  std::string first(118, '\x7E');
  first.replace(0, 6, "\5A.ZIP");
  first.replace(71, 4, "\x00\x06\x00\x00", 4);
  first[110] = 7;
  first.replace(111, 4, "\x2A\x01\x00\x00", 4);
  first[115] = 3;
  // A length byte of 200 keeps the 70 bytes of the field, no more.
  std::string second(118, '\xFF');
  std::string name70;
  for (int i = 0; i < 70; ++i) name70 += char('a' + i % 26);
  second.replace(0, 71, "\xC8" + name70);
  FileList list;
  ASSERT_EQ(0, OpenFileList(Write("b.dir", first + second + "\0\0"s), list));
  FileListRecord record;
  ASSERT_EQ(0, ReadFileListRecord(list, &record));
  EXPECT_EQ("A.ZIP 1536 7 298 3", Fields(record));
  ASSERT_EQ(0, ReadFileListRecord(list, &record));
  EXPECT_EQ(name70 + " -1 255 -1 255", Fields(record));
  EXPECT_TRUE(AtEndOfFileList(list));
  CloseFileList(list);
}

TEST_F(BoardFilesTest, ReadsListDirectoryAtOffset82) {
  std::string record(1824, '\x09');
  record.replace(81, 7, "\x01\x05/b/d/");
  int fd = -1;
  ASSERT_EQ(0, OpenBoardFile(Write("korvel.dat", record), &fd));
  BoardConfig config;
  ASSERT_EQ(0, ReadBoardConfig(fd, &config));
  EXPECT_EQ("/b/d/", View(config.ListDirectory));
  CloseFile(fd);
}

TEST_F(BoardFilesTest, ReadsDescriptionItemsAtAnyOffset) {
  // 60 items from offset 5 run over more than one of the reader's blocks.
  std::string items, expected;
  for (int i = 0; i < 60; ++i) {
    std::string line(i < 40 ? 200 : 255, char('A' + i % 26));
    items += char(line.size()) + line;
    expected += (i > 0 ? "|" : "") + line;
  }
  DescriptionStore store;
  ASSERT_EQ(0, OpenDescriptionStore(Write("b.des", "\0\3abc"s + items + "\2"),
                                    store));
  EXPECT_EQ("|abc", Lines(store, 0, 2));  // an empty item takes one byte
  EXPECT_EQ("abc", Lines(store, 1, 1));
  EXPECT_EQ("|abc", Lines(store, 0, 2));  // the same offset, the same lines
  EXPECT_EQ(expected, Lines(store, 5, 60));
  EXPECT_EQ("error 100", Lines(store, 5, 62));
  CloseDescriptionStore(store);
}

}  // namespace
