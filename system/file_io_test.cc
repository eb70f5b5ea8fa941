#include "system/file_io.h"

#include <errno.h>
#include <gtest/gtest.h>

namespace {

TEST(IoErrorFromErrnoTest, MapsSystemErrorsToProgramNumbers) {
  // An errno that has no number of ours keeps its own value.
  const int rows[][2] = {
      {ENOENT, 2}, {EISDIR, 5}, {EPIPE, 101}, {EINVAL, 218}, {EDQUOT, EDQUOT}};
  for (const auto& [error, number] : rows) {
    EXPECT_EQ(number, IoErrorFromErrno(error)) << "errno " << error;
  }
}

}  // namespace
