#include "text/text_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GroupedDecimalText, GroupsByThreesFromTheRightSignInFront) {
  auto grouped = [](int32_t value) {
    return std::string(View(GroupedDecimalText(value)));
  };
  EXPECT_EQ("0", grouped(0));
  EXPECT_EQ("999", grouped(999));
  EXPECT_EQ("1,000", grouped(1000));
  EXPECT_EQ("-123", grouped(-123));
  EXPECT_EQ("-123,456", grouped(-123456));
  EXPECT_EQ("2,147,483,647", grouped(2147483647));
  EXPECT_EQ("-2,147,483,648", grouped(-2147483647 - 1));
}

}  // namespace
