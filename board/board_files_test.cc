#include "board/board_files.h"

#include <gtest/gtest.h>

#include <string>

#include "system/file_io.h"
#include "tests/test_board.h"

namespace {

using namespace std::string_literals;

class BoardFilesTest : public TempDirTest {};

// Fields are found at their own offsets, not at the builder's: bytes written
// by hand, with the bytes between fields filled so that a slip shows.
TEST_F(BoardFilesTest, DecodesRecordsFromHandWrittenBytes) {
  std::string first(118, '\x7E');
  first.replace(0, 6, "\5A.ZIP");
  first.replace(71, 4, "\x00\x06\x00\x00", 4);
  first[110] = 7;
  first.replace(111, 4, "\x2A\x01\x00\x00", 4);
  first[115] = 3;
  // A length byte of 200 keeps the 70 bytes of the field, no more.
  std::string second(118, '\xFF'), name70;
  for (int i = 0; i < 70; ++i) name70 += char('a' + i % 26);
  second.replace(0, 71, "\xC8" + name70);
  WriteBytes(Path("b.dir"), first + second + "\0\0"s);
  FileList list;
  ASSERT_EQ(0, OpenFileList(MakeShortText(Path("b.dir")), list));
  for (std::string expected :
       {"A.ZIP 1536 7 298 3"s, name70 + " -1 255 -1 255"}) {
    FileListRecord r;
    ASSERT_EQ(0, ReadFileListRecord(list, &r));
    // Appended in place: inserting before a temporary string (" " + s)
    // draws a false overlap warning from g++ 12 at -O3.
    std::string fields(View(r.Name));
    for (int64_t value :
         {int64_t{r.Size}, int64_t{r.Flags}, int64_t{r.DescriptionOffset},
          int64_t{r.DescriptionLines}}) {
      fields += ' ';
      fields += std::to_string(value);
    }
    EXPECT_EQ(expected, fields);
  }
  EXPECT_TRUE(AtEndOfFileList(list));
  CloseFileList(list);

  std::string config(1824, '\x09');
  config.replace(81, 7, "\x01\x05/b/d/");
  WriteBytes(Path("korvel.dat"), config);
  int fd = -1;
  ASSERT_EQ(0, OpenForReading(MakeShortText(Path("korvel.dat")), &fd));
  BoardConfig board;
  ASSERT_EQ(0, ReadBoardConfig(fd, &board));
  EXPECT_EQ("/b/d/", View(board.ListDirectory));
  CloseFile(fd);
}

}  // namespace
