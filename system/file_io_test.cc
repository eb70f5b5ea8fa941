#include "system/file_io.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <set>

namespace {

TEST(IoErrorFromErrnoTest, MapsSystemErrorsToProgramNumbers) {
  const int rows[][2] = {{ENOENT, 2},     {ENXIO, 2},         {ENODEV, 2},
                         {ELOOP, 3},      {ENFILE, 4},        {EPERM, 5},
                         {EISDIR, 5},     {EBADF, 6},         {EPIPE, 101},
                         {EFBIG, 101},    {EDQUOT, 101},      {ESRCH, 101},
                         {ENETDOWN, 101}, {ENETUNREACH, 101}, {ETXTBSY, 162},
                         {EFAULT, 217},   {EINVAL, 218},      {EXDEV, EXDEV}};
  for (const auto& [error, number] : rows) {
    EXPECT_EQ(number, IoErrorFromErrno(error)) << "errno " << error;
  }
}

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
