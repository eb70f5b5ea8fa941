#include "text/rendering.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "text/escaping.h"

namespace {

constexpr unsigned char kEscape = 0x1B;
// Colours as shown, foreground * 16 + background; characters in the default
// ones stand outside any span.
constexpr int kDefaultShown = 7 * 16 + 0;
// A parameter that holds a byte other than a digit; and the cap on the
// value of one that does not, far above any value that a rule matches.
constexpr int kNotNumber = -1;
constexpr int kLargeNumber = 1000;
constexpr int kWidestCursorMove = 80;

struct Output {
  char* Next;
  RenderMode Mode;
  int Shown;                // the colours that characters are shown in now
  int Open = kDefaultShown;  // those of the open span, if any
};

void Put(Output& out, std::string_view piece) {
  std::memcpy(out.Next, piece.data(), piece.size());
  out.Next += piece.size();
}

void PutColourNumber(Output& out, int number) {
  if (number >= 10) *out.Next++ = '1';
  *out.Next++ = static_cast<char>('0' + number % 10);
}

int ShownColours(const Colours& colours) {
  int foreground = colours.Foreground;
  int background = colours.Background;
  if (colours.Bold && foreground < 8) foreground += 8;
  if (colours.Reverse) std::swap(foreground, background);
  return foreground * 16 + background;
}

// Closes the open span and opens one for `shown`, unless they are the same:
// a stretch of the same colours is one span however many sequences lie in
// it, and no span is ever empty.
void SwitchSpan(Output& out, int shown) {
  if (shown == out.Open) return;
  if (out.Open != kDefaultShown) Put(out, "</span>");
  out.Open = shown;
  if (shown == kDefaultShown) return;
  int foreground = shown >> 4;
  int background = shown & 15;
  Put(out, "<span class=\"");
  if (foreground != 7) {
    Put(out, "fg");
    PutColourNumber(out, foreground);
    if (background != 0) Put(out, " ");
  }
  if (background != 0) {
    Put(out, "bg");
    PutColourNumber(out, background);
  }
  Put(out, "\">");
}

void PutUtf8(Output& out, uint32_t c) {
  if (c < 0x80) {
    *out.Next++ = static_cast<char>(c);
    return;
  }
  int more = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  *out.Next++ = static_cast<char>(kLead[more] | (c >> (6 * more)));
  for (int shift = 6 * (more - 1); shift >= 0; shift -= 6) {
    *out.Next++ = static_cast<char>(0x80 | ((c >> shift) & 0x3F));
  }
}

// Writes one decoded character, escaped for the mode; the C1 controls are
// dropped.
void PutCharacter(Output& out, uint32_t c) {
  if (c >= 0x80 && c <= 0x9F) return;
  if (out.Mode == RENDER_JSON) {
    switch (c) {
      case '"': return Put(out, "\\\"");
      case '\\': return Put(out, "\\\\");
      case '\t': return Put(out, "\\t");
      // Escaped so that the string may also stand inside a <script>.
      case '<': return Put(out, "\\u003c");
      case '>': return Put(out, "\\u003e");
      case '&': return Put(out, "\\u0026");
      case '\'': return Put(out, "\\u0027");
      case 0x2028: return Put(out, "\\u2028");
      case 0x2029: return Put(out, "\\u2029");
    }
    return PutUtf8(out, c);
  }
  if (out.Mode == RENDER_HTML_COLOURS) SwitchSpan(out, out.Shown);
  std::string_view entity =
      c < 0x80 ? HtmlEntity(static_cast<char>(c)) : std::string_view();
  if (!entity.empty()) return Put(out, entity);
  PutUtf8(out, c);
}

// Decodes the UTF-8 character at `p` and writes it, or one U+FFFD for the
// maximal subpart of an ill-formed sequence there; returns where the next
// character starts. `end` ends the line.
const unsigned char* PutUtf8Character(Output& out, const unsigned char* p,
                                      const unsigned char* end) {
  unsigned char lead = *p++;
  int more = 0;
  uint32_t c = lead;
  // The range of the byte after the lead, which shuts out overlong forms,
  // surrogates and values above U+10FFFF; later bytes are 0x80 to 0xBF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else if (lead >= 0x80) {
    c = 0xFFFD;
  }
  for (; more > 0; --more, ++p) {
    if (p == end || *p < low || *p > high) {
      PutCharacter(out, 0xFFFD);
      return p;
    }
    c = (c << 6) | (*p & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  PutCharacter(out, c);
  return p;
}

// Writes the character that starts at `p`, a text byte that is not plain,
// and returns where the next one starts. Every byte that ends a run of text
// (a control byte, ESC) is below 0x80 and so ends a UTF-8 sequence too: runs
// are decoded on their own without being marked.
const unsigned char* PutTextCharacter(Output& out, const unsigned char* p,
                                      const unsigned char* end,
                                      CodePage page) {
  if (*p < 0x80) {
    PutCharacter(out, *p);
  } else if (page == CODE_PAGE_UTF8) {
    return PutUtf8Character(out, p, end);
  } else if (uint32_t c = kHighCharacters[page][*p - 0x80]; c != 0) {
    PutCharacter(out, c);  // 0: a byte that the page leaves undefined
  }
  return p + 1;
}

// Which bytes stand for themselves in every code page and need no escape:
// most of a line is copied as it is.
struct PlainBytes {
  bool Html[256] = {};
  bool Json[256] = {};
};

constexpr PlainBytes MakePlainBytes() {
  PlainBytes plain;
  for (int byte = 0x20; byte < 0x7F; ++byte) {
    bool markup = byte == '&' || byte == '<' || byte == '>' || byte == '"' ||
                  byte == '\'';
    plain.Html[byte] = !markup;
    plain.Json[byte] = !markup && byte != '\\';
  }
  return plain;
}

constexpr PlainBytes kPlainBytes = MakePlainBytes();

// The value of a parameter of a control sequence: empty is 0.
int ParameterValue(std::string_view text) {
  int value = 0;
  for (char digit : text) {
    if (digit < '0' || digit > '9') return kNotNumber;
    value = std::min(value * 10 + (digit - '0'), kLargeNumber);
  }
  return value;
}

void ApplySgrValue(int value, Colours& colours) {
  if (value == 0) {
    colours = Colours();
  } else if (value == 1 || value == 22) {
    colours.Bold = value == 1;
  } else if (value == 7 || value == 27) {
    colours.Reverse = value == 7;
  } else if (value >= 30 && value <= 37) {
    colours.Foreground = static_cast<uint8_t>(value - 30);
  } else if (value == 39) {
    colours.Foreground = 7;
  } else if (value >= 40 && value <= 47) {
    colours.Background = static_cast<uint8_t>(value - 40);
  } else if (value == 49) {
    colours.Background = 0;
  } else if (value >= 90 && value <= 97) {
    colours.Foreground = static_cast<uint8_t>(value - 90 + 8);
  } else if (value >= 100 && value <= 107) {
    colours.Background = static_cast<uint8_t>(value - 100 + 8);
  }
}

// Applies the parameters of a "m" sequence. 38 and 48 with 5 or 2 after
// them choose a colour outside the sixteen: those parameters are passed
// over.
void ApplySgr(std::string_view parameters, Colours& colours) {
  int skip = 0;
  bool after_extended = false;
  for (;;) {
    size_t semicolon = parameters.find(';');
    int value = ParameterValue(parameters.substr(0, semicolon));
    bool extended = false;
    if (skip > 0) {
      --skip;
    } else if (after_extended && (value == 5 || value == 2)) {
      skip = value == 5 ? 1 : 3;
    } else if (value == 38 || value == 48) {
      extended = true;
    } else {
      ApplySgrValue(value, colours);
    }
    after_extended = extended;
    if (semicolon == std::string_view::npos) return;
    parameters.remove_prefix(semicolon + 1);
  }
}

// Blanks for a cursor move: as many as the first parameter says, 1 when it
// is 0 or not a number, 80 at most; shown in the default colours.
void PutCursorMove(Output& out, std::string_view parameters) {
  int count = ParameterValue(parameters.substr(0, parameters.find(';')));
  if (count <= 0) count = 1;
  count = std::min(count, kWidestCursorMove);
  if (out.Mode == RENDER_HTML_COLOURS) SwitchSpan(out, kDefaultShown);
  std::memset(out.Next, ' ', static_cast<size_t>(count));
  out.Next += count;
}

bool IsTextByte(unsigned char byte) {
  return byte >= 0x20 ? byte != 0x7F : byte == '\t';
}

}  // namespace

size_t RenderLine(std::string_view line, CodePage page, RenderMode mode,
                  Colours& colours, char* out) {
  Output output{out, mode, ShownColours(colours)};
  auto p = reinterpret_cast<const unsigned char*>(line.data());
  const unsigned char* end = p + line.size();
  const bool* plain = mode == RENDER_JSON ? kPlainBytes.Json : kPlainBytes.Html;
  while (p < end) {
    if (plain[*p]) {
      // Four bytes a step while they last: this scan is most of the work.
      const unsigned char* stretch_end = p + 1;
      while (end - stretch_end >= 4 &&
             (plain[stretch_end[0]] & plain[stretch_end[1]] &
              plain[stretch_end[2]] & plain[stretch_end[3]])) {
        stretch_end += 4;
      }
      while (stretch_end < end && plain[*stretch_end]) ++stretch_end;
      if (mode == RENDER_HTML_COLOURS) SwitchSpan(output, output.Shown);
      std::memcpy(output.Next, p, static_cast<size_t>(stretch_end - p));
      output.Next += stretch_end - p;
      p = stretch_end;
      continue;
    }
    if (IsTextByte(*p)) {
      p = PutTextCharacter(output, p, end, page);
      continue;
    }
    // A control byte other than ESC is dropped, and so is an ESC that ends
    // the line or the byte after one that does not start a sequence.
    if (*p != kEscape) {
      ++p;
      continue;
    }
    if (end - p < 2) break;
    if (p[1] != '[') {
      p += 2;
      continue;
    }
    // The sequence runs to its final byte; without one, it takes the rest of
    // the line.
    const unsigned char* final = p + 2;
    while (final < end && (*final < 0x40 || *final > 0x7E)) ++final;
    if (final == end) break;
    std::string_view parameters(reinterpret_cast<const char*>(p + 2),
                                static_cast<size_t>(final - (p + 2)));
    if (*final == 'm') {
      ApplySgr(parameters, colours);
      output.Shown = ShownColours(colours);
    } else if (*final == 'C') {
      PutCursorMove(output, parameters);
    }
    p = final + 1;
  }
  if (mode == RENDER_HTML_COLOURS) SwitchSpan(output, kDefaultShown);
  return static_cast<size_t>(output.Next - out);
}
