#include "listing/template_lines.h"

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

}  // namespace
