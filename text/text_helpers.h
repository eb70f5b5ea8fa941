#ifndef TEXT_TEXT_HELPERS_H_
#define TEXT_TEXT_HELPERS_H_

#include <cstdint>

#include "text/short_text.h"

// Pure conversions on ShortText, byte by byte, with no locale.

// "a" to "z" become "A" to "Z"; every other byte, 0x80 and up included, stays.
ShortText UpperText(const ShortText& text);

// "a" to "z" become "A" to "Z"; any other byte is returned unchanged.
inline char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// "A" to "Z" become "a" to "z"; any other byte is returned unchanged.
inline char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// LowerChar applied to every byte.
ShortText LowerText(const ShortText& text);

// The shortest decimal form: "-" for a negative value, no plus, no grouping.
ShortText DecimalText(int32_t value);

// Decimal digits grouped by threes from the right with ","; a negative value
// keeps its sign in front of the grouped digits (-1536 gives -1,536).
ShortText GroupedDecimalText(int32_t value);

// `text` with a "/" appended unless it already ends in one; "" gives "/".
ShortText WithTrailingSlash(const ShortText& text);

#endif  // TEXT_TEXT_HELPERS_H_
