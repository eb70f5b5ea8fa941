#include "text/escaping.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Html(std::string_view text) {
  std::string out(text.size() * kHtmlGrowth, '\0');
  out.resize(EscapeHtml(text, out.data()));
  return out;
}

std::string Link(std::string_view text) {
  std::string out(text.size() * kLinkGrowth, '\0');
  out.resize(EscapeForLink(text, out.data()));
  return out;
}

TEST(EscapeHtml, WritesTheFiveMarkupBytesAsEntitiesOnly) {
  EXPECT_EQ("", Html(""));
  EXPECT_EQ("Tom &amp; Jerry &lt;uncut&gt; &quot;a&quot; &#39;b&#39;",
            Html("Tom & Jerry <uncut> \"a\" 'b'"));
  // Bytes from 0x80 up, NUL, controls and the other ASCII marks stay.
  const std::string kept("\x80\xc3\xa4\xff\x00\x1b\t;#%/=`@", 14);
  EXPECT_EQ(kept, Html(kept));
  // The longest escape, every byte: the buffer bound is reached exactly.
  EXPECT_EQ(255 * 6, Html(std::string(255, '"')).size());
}

TEST(EscapeForLink, EncodesEveryByteButTheUnreservedOnes) {
  const std::string kUnreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  EXPECT_EQ(kUnreserved, Link(kUnreserved));
  EXPECT_EQ("Tiny%20Tools.zip", Link("Tiny Tools.zip"));
  EXPECT_EQ("%00%09%21%23%25%26%2B%2F%3A%3F%40%5B%60%7B%7F%80%C3%A4%FF",
            Link(std::string("\0\t!#%&+/:?@[`{\x7f\x80\xc3\xa4\xff", 19)));
  // Every byte but the 66 unreserved ones takes three.
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(66 + 190 * 3, Link(all).size());
}

}  // namespace
