#include "text/text_helpers.h"

namespace {

// The decimal digits of the largest 32-bit magnitude, 4294967295.
constexpr int kMostDigits = 10;
// Digits that a grouped number sets between its commas.
constexpr int kGroupDigits = 3;

// Writes the decimal digits of `magnitude` to end just before `end`, with
// a `comma` before every group of three but the first when it is not 0;
// returns where they start.
char* DigitsBefore(uint32_t magnitude, char* end, char comma = 0) {
  int count = 0;
  do {
    if (comma != 0 && count > 0 && count % kGroupDigits == 0) *--end = comma;
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++count;
  } while (magnitude != 0);
  return end;
}

// The bytes from `start` up to `end`.
ShortText TextBetween(const char* start, const char* end) {
  return MakeShortText(
      std::string_view(start, static_cast<size_t>(end - start)));
}

// The magnitude of a signed value; the most negative value included.
uint32_t Magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value)
                   : static_cast<uint32_t>(value);
}

}  // namespace

// Both copy only the bytes in use, not the whole record.
ShortText UpperText(const ShortText& text) {
  ShortText upper;
  upper.Length = text.Length;
  for (int i = 0; i < text.Length; ++i) {
    upper.Bytes[i] = UpperChar(text.Bytes[i]);
  }
  return upper;
}

ShortText LowerText(const ShortText& text) {
  ShortText lower;
  lower.Length = text.Length;
  for (int i = 0; i < text.Length; ++i) {
    lower.Bytes[i] = LowerChar(text.Bytes[i]);
  }
  return lower;
}

ShortText DecimalText(int32_t value) {
  char digits[1 + kMostDigits];
  char* end = digits + sizeof digits;
  char* start = DigitsBefore(Magnitude(value), end);
  if (value < 0) *--start = '-';
  return TextBetween(start, end);
}

ShortText UnsignedDecimalText(uint32_t value) {
  char digits[kMostDigits];
  char* end = digits + sizeof digits;
  char* start = DigitsBefore(value, end);
  return TextBetween(start, end);
}

ShortText GroupedDecimalText(int32_t value) {
  // A sign, the digits and a comma before each group of three but the first.
  char grouped[1 + kMostDigits + (kMostDigits - 1) / kGroupDigits];
  char* end = grouped + sizeof grouped;
  char* start = DigitsBefore(Magnitude(value), end, ',');
  if (value < 0) *--start = '-';
  return TextBetween(start, end);
}

ShortText WithTrailingSlash(const ShortText& text) {
  ShortText result = text;
  if (result.Length == 0 || result.Bytes[result.Length - 1] != '/') {
    AppendText(result, "/");
  }
  return result;
}
