#include "system/file_io.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <set>

namespace {

// An error that keeps its own value never takes a status that means
// something else: the usage line's 1, or a number of the table.
TEST(IoErrorFromErrnoTest, NoKeptValueCollides) {
  const std::set<int> taken = {1, 2, 3, 4, 5, 6, 100, 101, 162, 217, 218};
  for (int error = 1; error < 4096; ++error) {
    if (strerrorname_np(error) == nullptr) continue;  // no such code
    int number = IoErrorFromErrno(error);
    // These two are in the table with their own value and meaning.
    if (number == error && error != ENOENT && error != ENETUNREACH) {
      EXPECT_FALSE(taken.contains(number)) << "errno " << error;
    }
    EXPECT_GT(number, 1) << "errno " << error;
  }
}

}  // namespace
