#include "listing/template_lines.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "board/test_board.h"

namespace {

using Lines = std::vector<std::string>;

// Up to `count` further lines of the open template.
Lines ReadLines(TemplateReader& reader, size_t count = SIZE_MAX) {
  Lines lines;
  ShortText line;
  bool has_line = true;
  while (lines.size() < count &&
         ReadTemplateLine(reader, &line, &has_line) == 0 && has_line) {
    lines.emplace_back(View(line));
  }
  return lines;
}

class TemplateLinesTest : public TempDirTest {
 protected:
  TemplateReader reader_;
};

TEST_F(TemplateLinesTest, FileAndPipeGiveTheSameLines) {
  // The first read of 16384 bytes ends between the CR and the LF of a line.
  std::string split;
  for (int i = 0; i < 4; ++i) split += std::string(4075, 'a') + "\n";
  const std::string before_cr(kTemplateBufferSize - 1 - split.size(), 'b');
  split += before_cr + "\r\nc";
  Lines split_lines(4, std::string(255, 'a'));
  split_lines.insert(split_lines.end(), {before_cr, "c"});
  const std::string odd("\0\t\x1a\x80\xff", 5), long_line(300, 'x');
  const std::vector<std::pair<std::string, Lines>> rows = {
      {"", {}},
      {"\n", {""}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\rb\n\r", {"a", "", "b", ""}},
      {"a\r\n\r\nb\n\n", {"a", "", "b", ""}},
      {odd + "\n" + odd, {odd, odd}},
      {long_line + "\nb", {long_line.substr(0, 255), "b"}},
      {long_line + "\r\nb\r", {long_line.substr(0, 255), "b"}},
      {split, split_lines}};
  for (const auto& [bytes, lines] : rows) {
    WriteBytes(Path("t"), bytes);
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    ASSERT_EQ(ssize_t(bytes.size()),
              write(ends[1], bytes.data(), bytes.size()));
    close(ends[1]);
    for (std::string path : {Path("t"), "/dev/fd/" + std::to_string(ends[0])}) {
      SCOPED_TRACE(path + ": " + bytes.substr(0, 20));
      ASSERT_EQ(0, OpenTemplate(MakeShortText(path), reader_));
      EXPECT_EQ(lines, ReadLines(reader_));
      CloseTemplate(reader_);
    }
    close(ends[0]);
  }
}

TEST_F(TemplateLinesTest, PipeIsReadUntilAReadGivesNothing) {
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  ASSERT_EQ(6, write(ends[1], "one\ntw", 6));
  ASSERT_EQ(0, OpenTemplate(MakeShortText("/dev/fd/" + std::to_string(ends[0])),
                            reader_));
  EXPECT_EQ(Lines{"one"}, ReadLines(reader_, 1));
  // The first read gave less than it asked for; the rest comes later.
  ASSERT_EQ(2, write(ends[1], "o\n", 2));
  close(ends[1]);
  EXPECT_EQ(Lines{"two"}, ReadLines(reader_));
  CloseTemplate(reader_);
  close(ends[0]);
}

}  // namespace
