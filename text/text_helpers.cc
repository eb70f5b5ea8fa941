#include "text/text_helpers.h"

#include <cstring>

namespace {

// The decimal digits of the largest 32-bit magnitude, 4294967295.
constexpr int kMostDigits = 10;
// Digits that a grouped number sets between its commas.
constexpr int kGroupDigits = 3;

// Writes the decimal digits of `magnitude` to end just before `end`, with
// a "," before every group of three but the first when `grouped`; returns
// where they start.
char* DigitsBefore(uint32_t magnitude, char* end, bool grouped = false) {
  int in_group = 0;  // digits written since the last comma
  do {
    if (grouped && in_group == kGroupDigits) {
      *--end = ',';
      in_group = 0;
    }
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++in_group;
  } while (magnitude != 0);
  return end;
}

// The bytes from `start` up to `end`, at most kMostDigits + 4.
ShortText TextBetween(const char* start, const char* end) {
  ShortText text;
  text.Length = static_cast<uint8_t>(end - start);
  std::memcpy(text.Bytes, start, text.Length);
  return text;
}

// The magnitude of a signed value; the most negative value included.
uint32_t Magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value)
                   : static_cast<uint32_t>(value);
}

}  // namespace

namespace {

// Eight bytes at a time: a byte of 0x01 in each place, and the high bits.
constexpr uint64_t kEachByte = 0x0101010101010101;
constexpr uint64_t kHighBits = kEachByte * 0x80;

// `text` with the case of the letters from `first` to `last` ("a" to "z" or
// "A" to "Z") changed; the others stay. Names are long enough that eight
// bytes a step, each byte on its own, take a quarter of the instructions of
// one byte a step. Each byte's low seven bits plus 0x80 - `first` reach the
// high bit when they are `first` or more, and plus 0x7F - `last` when they
// are past `last`; neither sum carries into the next byte. Bytes of 0x80 and
// up are no letters.
ShortText ChangedCase(const ShortText& text, char first, char last,
                      char (*change)(char)) {
  ShortText changed;
  changed.Length = text.Length;
  size_t count = text.Length;
  size_t i = 0;
  for (; count - i >= 8; i += 8) {
    uint64_t bytes;
    std::memcpy(&bytes, text.Bytes + i, 8);
    uint64_t seven = bytes & ~kHighBits;
    uint64_t from_first = seven + kEachByte * (0x80 - first);
    uint64_t past_last = seven + kEachByte * (0x7F - last);
    uint64_t letters = from_first & ~past_last & ~bytes & kHighBits;
    // A letter's case is its bit 0x20.
    bytes ^= letters >> 2;
    std::memcpy(changed.Bytes + i, &bytes, 8);
  }
  for (; i < count; ++i) changed.Bytes[i] = change(text.Bytes[i]);
  return changed;
}

}  // namespace

ShortText UpperText(const ShortText& text) {
  return ChangedCase(text, 'a', 'z', UpperChar);
}

ShortText LowerText(const ShortText& text) {
  return ChangedCase(text, 'A', 'Z', LowerChar);
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
  char* start = DigitsBefore(Magnitude(value), end, true);
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
