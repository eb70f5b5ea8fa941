#include "text/text_helpers.h"

namespace {

// The decimal digits of the largest 32-bit magnitude, 4294967295.
constexpr int kMostDigits = 10;
// Digits that a grouped number sets between its commas.
constexpr int kGroupDigits = 3;

// The decimal digits of `magnitude`, most significant first, into `out`;
// returns how many (1 to kMostDigits).
int Digits(uint32_t magnitude, char (&out)[kMostDigits]) {
  char reversed[kMostDigits];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (int i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  return count;
}

// The magnitude of a signed value; the most negative value included.
uint32_t Magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value)
                   : static_cast<uint32_t>(value);
}

}  // namespace

ShortText UpperText(const ShortText& text) {
  ShortText upper = text;
  for (int i = 0; i < upper.Length; ++i) {
    upper.Bytes[i] = UpperChar(upper.Bytes[i]);
  }
  return upper;
}

ShortText LowerText(const ShortText& text) {
  ShortText lower = text;
  for (int i = 0; i < lower.Length; ++i)
    lower.Bytes[i] = LowerChar(lower.Bytes[i]);
  return lower;
}

ShortText DecimalText(int32_t value) {
  ShortText text;
  if (value < 0) AppendText(text, "-");
  char digits[kMostDigits];
  AppendBytes(text, digits, Digits(Magnitude(value), digits));
  return text;
}

ShortText UnsignedDecimalText(uint32_t value) {
  char digits[kMostDigits];
  int count = Digits(value, digits);
  return MakeShortText(std::string_view(digits, static_cast<size_t>(count)));
}

ShortText GroupedDecimalText(int32_t value) {
  char digits[kMostDigits];
  int count = Digits(Magnitude(value), digits);
  // A sign, the digits and a comma before each group of three but the first.
  char grouped[1 + kMostDigits + (kMostDigits - 1) / kGroupDigits];
  size_t length = 0;
  if (value < 0) grouped[length++] = '-';
  for (int i = 0; i < count; ++i) {
    // A "," stands before every digit that has a multiple of three after it.
    if (i > 0 && (count - i) % kGroupDigits == 0) grouped[length++] = ',';
    grouped[length++] = digits[i];
  }
  return MakeShortText(std::string_view(grouped, length));
}

ShortText WithTrailingSlash(const ShortText& text) {
  ShortText result = text;
  if (result.Length == 0 || result.Bytes[result.Length - 1] != '/') {
    AppendText(result, "/");
  }
  return result;
}
