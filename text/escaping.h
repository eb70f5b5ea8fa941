#ifndef TEXT_ESCAPING_H_
#define TEXT_ESCAPING_H_

#include <cstddef>
#include <string_view>

// Pure escaping of uploaders' text for an HTML page, byte by byte, with no
// character set: each writes into a caller's buffer and returns how many
// bytes it wrote there.

// An escaped text is at most this many times as long as the text.
inline constexpr size_t kHtmlGrowth = 6;  // "&quot;"
inline constexpr size_t kLinkGrowth = 3;  // "%20"

// The entity that stands for `c` in HTML ("&amp;", "&lt;", "&gt;",
// "&quot;", "&#39;"), or nothing when `c` needs none.
std::string_view HtmlEntity(char c);

// `text` with "&", "<", ">", '"' and "'" written as "&amp;", "&lt;", "&gt;",
// "&quot;" and "&#39;"; every other byte, 0x80 and up included, stays.
// `out` holds kHtmlGrowth times text.size() bytes.
size_t EscapeHtml(std::string_view text, char* out);

// `text` percent-encoded for a link: every byte but "A" to "Z", "a" to "z",
// "0" to "9", "-", ".", "_" and "~" becomes "%" and two upper-case hex
// digits. `out` holds kLinkGrowth times text.size() bytes.
size_t EscapeForLink(std::string_view text, char* out);

#endif  // TEXT_ESCAPING_H_
