#ifndef TEXT_CODE_PAGES_H_
#define TEXT_CODE_PAGES_H_

#include <cstdint>
#include <string_view>

// The character sets that a board's text may be written in.
enum CodePage {
  CODE_PAGE_437,
  CODE_PAGE_850,
  CODE_PAGE_866,
  CODE_PAGE_1252,
  CODE_PAGE_UTF8,
};

// The characters (Unicode scalar values) of bytes 0x80 to 0xFF in each
// single-byte code page, indexed by the byte less 0x80; 0 for a byte that
// the page leaves undefined. Bytes below 0x80 are ASCII in all four.
extern const uint16_t kHighCharacters[CODE_PAGE_UTF8][128];

// The code page that `name` names: "437", "850", "866" or "1252", each also
// after "cp", or "utf-8", in any letter case and with nothing else; the
// empty name is 437. False for any other name.
bool ParseCodePage(std::string_view name, CodePage* page);

#endif  // TEXT_CODE_PAGES_H_
