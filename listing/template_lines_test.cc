#include "listing/template_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

// A regular file whose reads come back short (a network file system, a
// signal) must not end before the size it had at start-up has come; once
// that has come, a short read ends it without a further read. A pipe that
// hands over 1000-byte packets stands in for such a file; its writing end
// stays open and its reading end does not wait, so a read too many fails.
// Template lines otherwise are checked by the cases and the fuzz target.
TEST(TemplateLinesTest, ShortReadsEndARegularFileOnlyAtItsSize) {
  std::string bytes;
  for (int i = 0; i < 600; ++i) bytes += "line " + std::to_string(i) + "\n";
  // A last line of one byte past a packet: a count off by one would end
  // the file without it.
  while (bytes.size() % 1000 != 0) bytes += "x\n";
  bytes += "y";
  // Sizes that read on to the end: the file's, and 0 for an unknown one,
  // which reads on until a read gives nothing.
  for (int64_t size : {int64_t(bytes.size()), int64_t{0}}) {
    int ends[2];
    ASSERT_EQ(0, pipe2(ends, O_DIRECT));
    for (size_t at = 0; at < bytes.size(); at += 1000) {
      size_t packet = std::min<size_t>(1000, bytes.size() - at);
      ASSERT_EQ(ssize_t(packet), write(ends[1], bytes.data() + at, packet));
    }
    if (size == 0) close(ends[1]);
    TemplateReader reader;
    ASSERT_EQ(
        0, ReopenTemplate(MakeShortText("/dev/fd/" + std::to_string(ends[0])),
                          {.Size = size, .Regular = true}, reader));
    fcntl(reader.Fd, F_SETFL, O_NONBLOCK);
    std::string read_back;
    ShortText line;
    bool has_line = true;
    int error = 0;
    while ((error = ReadTemplateLine(reader, &line, &has_line)) == 0 &&
           has_line) {
      read_back += std::string(View(line)) + "\n";
    }
    EXPECT_EQ(0, error) << size;
    EXPECT_EQ(bytes + "\n", read_back) << size;
    CloseTemplate(reader);
    close(ends[0]);
    if (size != 0) close(ends[1]);
  }
}
