#include "listing/template_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/test_board.h"

namespace {

class TemplateLinesTest : public TempDirTest {};

// Arbitrary bytes are checked by the fuzz target; this is the one case it
// rarely finds: a CR LF whose CR ends the first 16384-byte read.
TEST_F(TemplateLinesTest, FileAndPipeGiveTheSameLines) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += std::string(4075, 'a') + "\n";
  const std::string before_cr(kTemplateBufferSize - 1 - bytes.size(), 'b');
  bytes += before_cr + "\r\nc\r\rd";
  std::vector<std::string> expected(4, std::string(255, 'a'));
  expected.insert(expected.end(), {before_cr, "c", "", "d"});
  WriteBytes(Path("t"), bytes);
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  ASSERT_EQ(ssize_t(bytes.size()), write(ends[1], bytes.data(), bytes.size()));
  close(ends[1]);
  for (std::string path : {Path("t"), "/dev/fd/" + std::to_string(ends[0])}) {
    SCOPED_TRACE(path);
    TemplateReader reader;
    ASSERT_EQ(0, OpenTemplate(MakeShortText(path), reader));
    std::vector<std::string> lines;
    ShortText line;
    bool has_line = true;
    while (ReadTemplateLine(reader, &line, &has_line) == 0 && has_line) {
      lines.emplace_back(View(line));
    }
    EXPECT_EQ(expected, lines);
    CloseTemplate(reader);
  }
  close(ends[0]);
}

// A regular file whose reads come back short (a network file system, a
// signal) must not end before the size it had at start-up has come; once
// that has come, a short read ends it without a further read. A pipe that
// hands over 1000-byte packets stands in for such a file; its writing end
// stays open and its reading end does not wait, so a read too many fails.
TEST_F(TemplateLinesTest, ShortReadsEndARegularFileOnlyAtItsSize) {
  std::string bytes;
  for (int i = 0; i < 600; ++i) bytes += "line " + std::to_string(i) + "\n";
  // Sizes that read on to the end: the file's, and 0 for an unknown one.
  for (int64_t size : {int64_t(bytes.size()), int64_t{0}}) {
    SCOPED_TRACE(size);
    int ends[2];
    ASSERT_EQ(0, pipe2(ends, O_DIRECT));
    for (size_t at = 0; at < bytes.size(); at += 1000) {
      std::string packet = bytes.substr(at, 1000);
      ASSERT_EQ(ssize_t(packet.size()),
                write(ends[1], packet.data(), packet.size()));
    }
    // An unknown size reads on until a read gives nothing.
    if (size == 0) close(ends[1]);
    FileFacts facts;
    facts.Regular = true;
    facts.Size = size;
    TemplateReader reader;
    ASSERT_EQ(
        0, ReopenTemplate(MakeShortText("/dev/fd/" + std::to_string(ends[0])),
                          facts, reader));
    fcntl(reader.Fd, F_SETFL, O_NONBLOCK);
    std::string read_back;
    ShortText line;
    bool has_line = true;
    int error = 0;
    while ((error = ReadTemplateLine(reader, &line, &has_line)) == 0 &&
           has_line) {
      read_back += std::string(View(line)) + "\n";
    }
    EXPECT_EQ(0, error);
    EXPECT_EQ(bytes, read_back);
    CloseTemplate(reader);
    close(ends[0]);
    if (size != 0) close(ends[1]);
  }
}

}  // namespace
