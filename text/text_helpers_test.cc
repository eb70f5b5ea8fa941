#include "text/text_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string S(const ShortText& text) { return std::string(View(text)); }
ShortText T(std::string_view bytes) { return MakeShortText(bytes); }

TEST(GroupedDecimalText, GroupsByThreesFromTheRight) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0"},
      {999, "999"},
      {1000, "1,000"},
      {1234567, "1,234,567"},
      {123456789, "123,456,789"},
      {2147483647, "2,147,483,647"},
      {-123, "-123"},
      {-1536, "-1,536"},
      {-123456, "-123,456"},
      {-2147483647 - 1, "-2,147,483,648"},
  };
  for (auto [value, text] : cases) {
    EXPECT_EQ(text, S(GroupedDecimalText(value))) << value;
  }
}

TEST(DecimalText, NeverGroups) {
  EXPECT_EQ("1023", S(DecimalText(1023)));
  EXPECT_EQ("0", S(DecimalText(0)));
  EXPECT_EQ("-1", S(DecimalText(-1)));
  EXPECT_EQ("-2147483648", S(DecimalText(-2147483647 - 1)));
}

TEST(CaseText, ChangesOnlyAsciiLetters) {
  ShortText text = T("Files-\xC3\xA4.ZIP");
  EXPECT_EQ("FILES-\xC3\xA4.ZIP", S(UpperText(text)));
  EXPECT_EQ("files-\xC3\xA4.zip", S(LowerText(text)));
  EXPECT_EQ("@[`{", S(UpperText(T("@[`{"))));
  EXPECT_EQ("@[`{", S(LowerText(T("@[`{"))));
}

TEST(WithTrailingSlash, AddsOneOnlyWhenMissing) {
  EXPECT_EQ("/", S(WithTrailingSlash(T(""))));
  EXPECT_EQ("/", S(WithTrailingSlash(T("/"))));
  EXPECT_EQ("bbs/", S(WithTrailingSlash(T("bbs"))));
  EXPECT_EQ("bbs/", S(WithTrailingSlash(T("bbs/"))));
  EXPECT_EQ("bbs//", S(WithTrailingSlash(T("bbs//"))));
  EXPECT_EQ(255, WithTrailingSlash(T(std::string(255, 'a'))).Length);
}

}  // namespace
