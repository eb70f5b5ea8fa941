#include "text/short_text.h"

#include <algorithm>
#include <cstring>

void AppendBytes(ShortText& text, const void* bytes, size_t count) {
  size_t room = kShortTextCapacity - text.Length;
  size_t taken = std::min(room, count);
  if (taken == 0) return;
  std::memcpy(text.Bytes + text.Length, bytes, taken);
  text.Length = static_cast<uint8_t>(text.Length + taken);
}

void AppendText(ShortText& text, std::string_view more) {
  AppendBytes(text, more.data(), more.size());
}

ShortText MakeShortText(std::string_view bytes, size_t limit) {
  ShortText text;
  AppendBytes(text, bytes.data(), std::min(bytes.size(), limit));
  return text;
}
