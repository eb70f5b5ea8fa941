#ifndef TEXT_SHORT_TEXT_H_
#define TEXT_SHORT_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr size_t kShortTextCapacity = 255;

// 0 to 255 bytes, no character set. Copy it freely: it never allocates.
struct ShortText {
  uint8_t Length = 0;
  char Bytes[kShortTextCapacity];  // only the first Length bytes are meaningful
};

// Appends what fits; the rest is dropped without notice.
void AppendBytes(ShortText& text, const void* bytes, size_t count);

// Appends what fits of `more`.
void AppendText(ShortText& text, std::string_view more);

// The first 255 bytes of `bytes` (or of its first `limit` bytes).
ShortText MakeShortText(std::string_view bytes,
                        size_t limit = kShortTextCapacity);

// The bytes of `text`, valid while `text` lives.
inline std::string_view View(const ShortText& text) {
  return std::string_view(text.Bytes, text.Length);
}

#endif  // TEXT_SHORT_TEXT_H_
