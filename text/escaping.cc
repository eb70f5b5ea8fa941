#include "text/escaping.h"

#include <cstring>

namespace {

// Appends `piece` at `out` and returns where the next byte goes.
char* Put(char* out, std::string_view piece) {
  std::memcpy(out, piece.data(), piece.size());
  return out + piece.size();
}

// Whether a link may carry `c` as it is.
bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string_view HtmlEntity(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return {};
  }
}

size_t EscapeHtml(std::string_view text, char* out) {
  char* next = out;
  for (char c : text) {
    std::string_view entity = HtmlEntity(c);
    if (entity.empty()) {
      *next++ = c;
    } else {
      next = Put(next, entity);
    }
  }
  return static_cast<size_t>(next - out);
}

size_t EscapeForLink(std::string_view text, char* out) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  char* next = out;
  for (char c : text) {
    if (IsUnreserved(c)) {
      *next++ = c;
      continue;
    }
    auto byte = static_cast<unsigned char>(c);
    next[0] = '%';
    next[1] = kHexDigits[byte >> 4];
    next[2] = kHexDigits[byte & 0xF];
    next += 3;
  }
  return static_cast<size_t>(next - out);
}
