#include "listing/output_page.h"

#include <gtest/gtest.h>

#include "tests/test_board.h"

// A close that fails may be the only word of a lost write (a network file
// system, a quota): it ends the run with its number, 6 for a descriptor
// that is not open.
TEST(OutputPageDeathTest, FailedCloseEndsTheRun) {
#ifdef __i386__
  SKIP_UNDER_EMULATION("a forked copy of a test run under qemu-i386 hangs");
#endif
  OutputPage page;
  StartPage(page, 1000);
  EXPECT_EXIT((ClosePage(page), exit(0)), testing::ExitedWithCode(6), "");
}
