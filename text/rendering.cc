#include "text/rendering.h"

#include <algorithm>
#include <cstring>

#include "text/escaping.h"

namespace {

constexpr unsigned char kBell = 0x07;
constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kReturn = 0x0D;
constexpr unsigned char kSubstitute = 0x1A;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kDelete = 0x7F;

// The terminal's colours before any escape: light grey on black.
constexpr int kDefaultForeground = 7;
constexpr int kDefaultBackground = 0;
constexpr uint16_t kDefaultLook = kDefaultForeground * 16 + kDefaultBackground;
constexpr uint16_t kBlinkLook = 256;
constexpr int kLastColumn = kScreenColumns - 1;
constexpr int kLastRow = kScreenRows - 1;
constexpr int kLargestParameter = 9999;

// The glyphs that the DOS code pages draw for control bytes; 0 for those
// that act instead.
constexpr uint16_t kControlGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0,
    0,      0,      0,      0x2642, 0x2640, 0,      0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0,      0,      0x221F, 0x2194, 0x25B2, 0x25BC};
constexpr uint16_t kDeleteGlyph = 0x2302;

// The sixteen VGA colours, red, green and blue.
constexpr uint8_t kVga[16][3] = {
    {0x00, 0x00, 0x00}, {0xAA, 0x00, 0x00}, {0x00, 0xAA, 0x00},
    {0xAA, 0x55, 0x00}, {0x00, 0x00, 0xAA}, {0xAA, 0x00, 0xAA},
    {0x00, 0xAA, 0xAA}, {0xAA, 0xAA, 0xAA}, {0x55, 0x55, 0x55},
    {0xFF, 0x55, 0x55}, {0x55, 0xFF, 0x55}, {0xFF, 0xFF, 0x55},
    {0x55, 0x55, 0xFF}, {0xFF, 0x55, 0xFF}, {0x55, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF}};

// The VGA colour nearest to a red, green and blue: the least sum of squared
// differences, the lowest number on a tie.
constexpr int NearestVga(int red, int green, int blue) {
  int best = 0;
  long best_distance = 0;
  for (int colour = 0; colour < 16; ++colour) {
    long r = red - kVga[colour][0];
    long g = green - kVga[colour][1];
    long b = blue - kVga[colour][2];
    long distance = r * r + g * g + b * b;
    if (colour == 0 || distance < best_distance) {
      best = colour;
      best_distance = distance;
    }
  }
  return best;
}

// The VGA colour for each colour of the 256-colour palette: the sixteen
// themselves, a 6x6x6 cube, then 24 greys.
struct Palette {
  uint8_t Vga[256];
};

constexpr Palette MakePalette() {
  constexpr int kLevels[6] = {0, 95, 135, 175, 215, 255};
  Palette palette{};
  for (int n = 0; n < 256; ++n) {
    if (n < 16) {
      palette.Vga[n] = static_cast<uint8_t>(n);
    } else if (n < 232) {
      int cube = n - 16;
      palette.Vga[n] = static_cast<uint8_t>(NearestVga(
          kLevels[cube / 36], kLevels[cube / 6 % 6], kLevels[cube % 6]));
    } else {
      int grey = 8 + 10 * (n - 232);
      palette.Vga[n] = static_cast<uint8_t>(NearestVga(grey, grey, grey));
    }
  }
  return palette;
}

constexpr Palette kPalette = MakePalette();

// The look of what is written now: bold brightens a dark foreground;
// reverse swaps the colours, each side keeping its own brightness.
void UpdateLook(Screen& s) {
  int foreground = s.Foreground;
  int background = s.Background;
  if (s.Bold && foreground < 8) foreground += 8;
  if (s.Reverse) {
    int swapped = background % 8 + (foreground - foreground % 8);
    background = foreground % 8 + (background - background % 8);
    foreground = swapped;
  }
  s.Look = static_cast<uint16_t>(foreground * 16 + background +
                                 (s.Blink ? kBlinkLook : 0));
}

void ResetColours(Screen& s) {
  s.Foreground = kDefaultForeground;
  s.Background = kDefaultBackground;
  s.Bold = s.Blink = s.Reverse = false;
}

// A row that stops being Simple gets the look of each of its cells.
void Complicate(Screen& s, int row) {
  if (!s.Simple[row]) return;
  std::fill_n(s.Looks[row], s.Written[row], s.RowLook[row]);
  s.Simple[row] = false;
}

// Readies the cells of the cursor's row from `from` up to `end` (not
// included) for characters in `look`, which the caller then writes; the
// cells passed over before `from` become blanks in the default colours.
void ReachColumn(Screen& s, int from, int end, uint16_t look) {
  int row = s.Row;
  int written = s.Written[row];
  if (written == 0) {
    s.Simple[row] = true;
    s.RowLook[row] = look;
    s.RowsUsed = std::max(s.RowsUsed, row + 1);
  }
  if (from > written) {
    if (s.RowLook[row] != kDefaultLook) Complicate(s, row);
    std::memset(s.Ascii[row] + written, ' ',
                static_cast<size_t>(from - written));
    if (!s.Simple[row]) {
      std::fill(s.Looks[row] + written, s.Looks[row] + from, kDefaultLook);
    }
    s.Written[row] = static_cast<uint8_t>(from);
  }
  if (look != s.RowLook[row]) Complicate(s, row);
  if (end > s.Written[row]) s.Written[row] = static_cast<uint8_t>(end);
}

// Gives the cells of the cursor's row from `from` up to `end` the look of
// the moment, in a row that keeps looks.
void PutLooks(Screen& s, int from, int end) {
  if (!s.Simple[s.Row]) {
    std::fill(s.Looks[s.Row] + from, s.Looks[s.Row] + end, s.Look);
  }
}

// The cursor after `count` characters from it, the last of them in the last
// column when `wrapped`: then it goes to the start of the next row, the
// last row excepted.
void Advance(Screen& s, int count, bool wrapped) {
  s.Wrapped = wrapped;
  if (wrapped) {
    s.Column = 0;
    s.Row = std::min(s.Row + 1, kLastRow);
  } else {
    s.Column += count;
  }
}

// A character at the cursor, which moves right.
void PutCell(Screen& s, uint32_t character) {
  int column = s.Column;
  ReachColumn(s, column, column + 1, s.Look);
  if (character < 0x80) {
    s.Ascii[s.Row][column] = static_cast<uint8_t>(character);
  } else {
    Complicate(s, s.Row);
    s.Ascii[s.Row][column] = 0;
    s.Wide[s.Row][column] = character;
  }
  PutLooks(s, column, column + 1);
  Advance(s, 1, column == kLastColumn);
}

// Eight bytes at a time: a byte of 0x01 in each place, and the high bits.
constexpr uint64_t kEachByte = 0x0101010101010101;
constexpr uint64_t kHighBits = kEachByte * 0x80;

uint64_t Load8(const unsigned char* p) {
  uint64_t bytes;
  std::memcpy(&bytes, p, 8);
  return bytes;
}

// Whether one of eight bytes, all below 0x80, lies above `low` and below
// `high`.
constexpr bool HasBetween(uint64_t bytes, unsigned low, unsigned high) {
  uint64_t seven = bytes & kEachByte * 0x7F;
  return ((kEachByte * (127 + high) - seven) & ~bytes &
          (seven + kEachByte * (127 - low)) & kHighBits) != 0;
}

// Whether one of eight printable ASCII bytes may need an escape: one of
// '"' to "'", of "<" to ">", or for JSON "\"; the bytes between those
// come as well, and take the slower way.
bool MayNeedEscape(uint64_t bytes, RenderMode mode) {
  return HasBetween(bytes, 0x21, 0x28) || HasBetween(bytes, 0x3B, 0x3F) ||
         (mode == RENDER_JSON && HasBetween(bytes, 0x5B, 0x5D));
}

// Where the run of printable ASCII bytes from `p` ends: eight bytes a step
// while they last, as most of any text is such a run.
const unsigned char* PlainRunEnd(const unsigned char* p,
                                 const unsigned char* end) {
  while (end - p >= 8) {
    uint64_t bytes = Load8(p);
    uint64_t below_blank = (bytes - kEachByte * 0x20) & ~bytes & kHighBits;
    uint64_t above_tilde = ((bytes + kEachByte) | bytes) & kHighBits;
    if ((below_blank | above_tilde) != 0) break;
    p += 8;
  }
  while (p < end && *p >= 0x20 && *p < 0x7F) ++p;
  return p;
}

// Puts the run of printable ASCII bytes that starts at `p`; returns where it
// ends.
const unsigned char* PutPlainRun(Screen& s, const unsigned char* p,
                                 const unsigned char* end) {
  const unsigned char* stop = PlainRunEnd(p, end);
  while (p < stop) {
    int room = kScreenColumns - s.Column;
    int count = static_cast<int>(std::min<ptrdiff_t>(stop - p, room));
    ReachColumn(s, s.Column, s.Column + count, s.Look);
    std::memcpy(s.Ascii[s.Row] + s.Column, p, static_cast<size_t>(count));
    PutLooks(s, s.Column, s.Column + count);
    p += count;
    Advance(s, count, count == room);
  }
  return p;
}

// A decoded character: the C1 controls, and bytes that the page leaves
// undefined (0), are dropped.
void PutCharacter(Screen& s, uint32_t character) {
  if (character == 0 || (character >= 0x80 && character <= 0x9F)) return;
  PutCell(s, character);
}

// Decodes the UTF-8 character at `p` and puts it, or one U+FFFD for the
// maximal subpart of an ill-formed sequence there; returns where the next
// character starts. Every byte that ends a run of text is below 0x80 and so
// ends a sequence too.
const unsigned char* PutUtf8Character(Screen& s, const unsigned char* p,
                                      const unsigned char* end) {
  unsigned char lead = *p++;
  int more = 0;
  uint32_t c = 0xFFFD;
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
  }
  for (; more > 0; --more, ++p) {
    if (p == end || *p < low || *p > high) {
      PutCharacter(s, 0xFFFD);
      return p;
    }
    c = (c << 6) | (*p & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  PutCharacter(s, c);
  return p;
}

// The parameters of a control sequence: each empty one is 0, each above
// 9,999 is 9,999. A sequence of at most 253 bytes has at most 254.
struct Parameters {
  int Count = 0;
  int Value[256];
};

// Reads the bytes between "[" and the final into `parameters`; false unless
// they are nothing but digits and ";".
bool ReadParameters(const unsigned char* p, const unsigned char* end,
                    Parameters& parameters) {
  int value = 0;
  for (; p < end; ++p) {
    if (*p == ';') {
      parameters.Value[parameters.Count++] = value;
      value = 0;
    } else if (*p >= '0' && *p <= '9') {
      value = std::min(value * 10 + (*p - '0'), kLargestParameter);
    } else {
      return false;
    }
  }
  parameters.Value[parameters.Count++] = value;
  return true;
}

void ApplySgrValue(Screen& s, int value) {
  if (value == 0) {
    ResetColours(s);
  } else if (value == 1 || value == 22) {
    s.Bold = value == 1;
  } else if (value == 5 || value == 6 || value == 25) {
    s.Blink = value != 25;
  } else if (value == 7 || value == 27) {
    s.Reverse = value == 7;
  } else if (value >= 30 && value <= 37) {
    s.Foreground = value - 30;
  } else if (value == 39) {
    s.Foreground = kDefaultForeground;
  } else if (value >= 40 && value <= 47) {
    s.Background = value - 40;
  } else if (value == 49) {
    s.Background = kDefaultBackground;
  } else if (value >= 90 && value <= 97) {
    s.Foreground = value - 90 + 8;
  } else if (value >= 100 && value <= 107) {
    s.Background = value - 100 + 8;
  }
}

// The colours of an "m" sequence. "38;5;N" and "48;5;N" take colour N of
// the 256, "38;2;R;G;B" and "48;2;R;G;B" the nearest VGA colour; both use
// up their parameters even when they set nothing.
void ApplySgr(Screen& s, const Parameters& parameters) {
  const int* value = parameters.Value;
  for (int k = 0; k < parameters.Count; ++k) {
    bool extended = (value[k] == 38 || value[k] == 48) &&
                    k + 1 < parameters.Count &&
                    (value[k + 1] == 5 || value[k + 1] == 2);
    if (!extended) {
      ApplySgrValue(s, value[k]);
      continue;
    }
    int* target = value[k] == 38 ? &s.Foreground : &s.Background;
    if (value[k + 1] == 5) {
      if (k + 2 < parameters.Count && value[k + 2] <= 255) {
        *target = kPalette.Vga[value[k + 2]];
      }
      k += 2;
    } else {
      if (k + 4 < parameters.Count && value[k + 2] <= 255 &&
          value[k + 3] <= 255 && value[k + 4] <= 255) {
        *target = NearestVga(value[k + 2], value[k + 3], value[k + 4]);
      }
      k += 4;
    }
  }
  UpdateLook(s);
}

// Every cell blank in the default colours: the rows written go back to
// holding nothing.
void ClearCells(Screen& s) {
  std::memset(s.Written, 0, static_cast<size_t>(s.RowsUsed));
  s.RowsUsed = 0;
}

// Acts on a finished control sequence whose bytes between "[" and `final`
// run from `p` to `end`.
void ActOnSequence(Screen& s, const unsigned char* p, const unsigned char* end,
                   unsigned char final) {
  Parameters parameters;
  if (!ReadParameters(p, end, parameters)) return;
  int first = parameters.Value[0];
  int count = std::max(first, 1);
  switch (final) {
    case 'A':
      s.Row = std::max(s.Row - count, 0);
      break;
    case 'B':
      s.Row = std::min(s.Row + count, kLastRow);
      break;
    case 'C':
      s.Column = std::min(s.Column + count, kLastColumn);
      break;
    case 'D':
      s.Column = std::max(s.Column - count, 0);
      break;
    case 'H':
    case 'f': {
      int column = parameters.Count > 1 ? parameters.Value[1] : 0;
      s.Row = std::min(count, kScreenRows) - 1;
      s.Column = std::min(std::max(column, 1), kScreenColumns) - 1;
      break;
    }
    case 's':
      s.SavedRow = s.Row;
      s.SavedColumn = s.Column;
      return;
    case 'u':
      s.Row = s.SavedRow;
      s.Column = s.SavedColumn;
      break;
    case 'J':
      if (first != 2) return;
      ClearCells(s);
      s.Row = s.Column = 0;
      break;
    case 'K': {
      if (first != 0) return;
      ReachColumn(s, s.Column, kScreenColumns, s.Look);
      std::memset(s.Ascii[s.Row] + s.Column, ' ',
                  static_cast<size_t>(kScreenColumns - s.Column));
      PutLooks(s, s.Column, kScreenColumns);
      return;
    }
    case 'm':
      ApplySgr(s, parameters);
      return;
    default:
      return;
  }
  s.Wrapped = false;
}

// The escape whose ESC stands before `p`; returns where the text goes on.
// Nothing of an escape runs past the end of its line.
const unsigned char* TakeEscape(Screen& s, const unsigned char* p,
                                const unsigned char* end) {
  if (p == end) return end;
  unsigned char kind = *p;
  if (kind == '[') {
    const unsigned char* start = ++p;
    while (p < end && *p >= 0x20 && *p <= 0x3F) ++p;
    if (p == end) return end;
    // Any byte but a final ends the sequence unfinished and is taken anew.
    if (*p < 0x40 || *p > 0x7E) return p;
    ActOnSequence(s, start, p, *p);
    return p + 1;
  }
  if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
    // A string, dropped up to BEL or ESC "\" (both dropped with it), or an
    // ESC or SUB (which then act).
    for (++p; p < end; ++p) {
      if (*p == kBell) return p + 1;
      if (*p == kSubstitute) return p;
      if (*p == kEscape) {
        return p + 1 < end && p[1] == '\\' ? p + 2 : p;
      }
    }
    return end;
  }
  if (kind >= 0x20 && kind <= 0x2F) {
    // Intermediate bytes, dropped with their final if one follows.
    while (p < end && *p >= 0x20 && *p <= 0x2F) ++p;
    return p < end && *p >= 0x30 && *p <= 0x7E ? p + 1 : p;
  }
  if (kind >= 0x30 && kind <= 0x7E) return p + 1;
  return p;  // the ESC alone is dropped
}

// Acts on the control byte at `p` (below 0x20, or DEL); returns where the
// text goes on.
const unsigned char* TakeControl(Screen& s, const unsigned char* p,
                                 const unsigned char* end, CodePage page) {
  unsigned char byte = *p++;
  switch (byte) {
    case kBell:
      return p;
    case kBackspace:
      s.Column = std::max(s.Column - 1, 0);
      break;
    case kTab:
      s.Column = s.Column < 72 ? (s.Column / 8 + 1) * 8 : kLastColumn;
      break;
    case kLineFeed:
      s.Row = std::min(s.Row + 1, kLastRow);
      break;
    case kReturn:
      s.Column = 0;
      break;
    case kSubstitute:
      s.Ended = true;
      return end;
    case kEscape:
      return TakeEscape(s, p, end);
    default:
      if (page == CODE_PAGE_1252 || page == CODE_PAGE_UTF8) return p;
      PutCell(s, byte == kDelete ? kDeleteGlyph : kControlGlyphs[byte]);
      return p;
  }
  s.Wrapped = false;
  return p;
}

// Which characters an escape stands for, by mode; the others are copied.
constexpr bool NeedsEscape(uint32_t c, RenderMode mode) {
  if (mode == RENDER_JSON) {
    return c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' ||
           c == '\'' || c == 0x2028 || c == 0x2029;
  }
  return c == '&' || c == '<' || c == '>' || c == '"' || c == '\'';
}

// Which ASCII characters stand for themselves, by mode.
struct PlainAscii {
  bool Html[128] = {};
  bool Json[128] = {};
};

constexpr PlainAscii MakePlainAscii() {
  PlainAscii plain;
  for (uint32_t c = 0; c < 128; ++c) {
    plain.Html[c] = !NeedsEscape(c, RENDER_HTML);
    plain.Json[c] = !NeedsEscape(c, RENDER_JSON);
  }
  return plain;
}

constexpr PlainAscii kPlainAscii = MakePlainAscii();

char* Put(char* out, std::string_view piece) {
  std::memcpy(out, piece.data(), piece.size());
  return out + piece.size();
}

char* PutEscaped(char* out, uint32_t c, RenderMode mode) {
  if (mode != RENDER_JSON) return Put(out, HtmlEntity(static_cast<char>(c)));
  switch (c) {
    case '"':
      return Put(out, "\\\"");
    case '\\':
      return Put(out, "\\\\");
    // Escaped so that the string may also stand inside a <script>.
    case '<':
      return Put(out, "\\u003c");
    case '>':
      return Put(out, "\\u003e");
    case '&':
      return Put(out, "\\u0026");
    case '\'':
      return Put(out, "\\u0027");
    case 0x2028:
      return Put(out, "\\u2028");
    default:
      return Put(out, "\\u2029");
  }
}

char* PutUtf8(char* out, uint32_t c) {
  int more = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  *out++ = static_cast<char>(kLead[more] | (c >> (6 * more)));
  for (int shift = 6 * (more - 1); shift >= 0; shift -= 6) {
    *out++ = static_cast<char>(0x80 | ((c >> shift) & 0x3F));
  }
  return out;
}

char* PutColourNumber(char* out, int number) {
  if (number >= 10) *out++ = '1';
  *out++ = static_cast<char>('0' + number % 10);
  return out;
}

// Closes the span open for `open`, if any, and opens one for `look` unless
// that is the default.
char* SwitchSpan(char* out, uint16_t open, uint16_t look) {
  if (open != kDefaultLook) out = Put(out, "</span>");
  if (look == kDefaultLook) return out;
  int foreground = look >> 4 & 15;
  int background = look & 15;
  out = Put(out, "<span class=\"");
  const char* separator = "";
  if (foreground != kDefaultForeground) {
    out = PutColourNumber(Put(out, "fg"), foreground);
    separator = " ";
  }
  if (background != kDefaultBackground) {
    out = PutColourNumber(Put(Put(out, separator), "bg"), background);
    separator = " ";
  }
  if ((look & kBlinkLook) != 0) out = Put(Put(out, separator), "blink");
  return Put(out, "\">");
}

}  // namespace

void StartScreen(Screen& screen) {
  ClearCells(screen);
  screen.Row = screen.Column = 0;
  screen.SavedRow = screen.SavedColumn = 0;
  ResetColours(screen);
  UpdateLook(screen);
  screen.Wrapped = false;
  screen.Ended = false;
}

void SendLine(Screen& screen, std::string_view line, CodePage page) {
  auto p = reinterpret_cast<const unsigned char*>(line.data());
  const unsigned char* end = p + line.size();
  while (p < end && !screen.Ended) {
    unsigned char byte = *p;
    if (byte >= 0x20 && byte < 0x7F) {
      p = PutPlainRun(screen, p, end);
    } else if (byte < 0x80) {
      p = TakeControl(screen, p, end, page);
    } else if (page == CODE_PAGE_UTF8) {
      p = PutUtf8Character(screen, p, end);
    } else {
      PutCharacter(screen, kHighCharacters[page][byte - 0x80]);
      ++p;
    }
  }
}

void SendLineEnd(Screen& screen) {
  if (screen.Ended) return;
  if (!screen.Wrapped) {
    screen.Column = 0;
    screen.Row = std::min(screen.Row + 1, kLastRow);
  }
  screen.Wrapped = false;
}

int FinishScreen(Screen& screen) {
  int kept = 0;
  for (int row = 0; row < screen.RowsUsed; ++row) {
    int written = screen.Written[row];
    const uint8_t* ascii = screen.Ascii[row];
    if (!screen.Simple[row]) {
      const uint16_t* looks = screen.Looks[row];
      while (written > 0 && ascii[written - 1] == ' ' &&
             looks[written - 1] == kDefaultLook) {
        --written;
      }
    } else if (screen.RowLook[row] == kDefaultLook) {
      while (written > 0 && ascii[written - 1] == ' ') --written;
    }
    screen.Written[row] = static_cast<uint8_t>(written);
    if (written > 0) kept = row + 1;
  }
  screen.Ended = true;
  return kept;
}

size_t RenderRow(const Screen& screen, int row, RenderMode mode, char* out) {
  const bool colours = mode == RENDER_HTML_COLOURS;
  const uint8_t* ascii = screen.Ascii[row];
  int written = screen.Written[row];
  // A row that holds nothing may keep the marks of an earlier text.
  if (written == 0) return 0;
  char* next = out;
  if (screen.Simple[row]) {
    // One look for the row: its characters copied a stretch at a time, the
    // escapes between.
    uint16_t look = screen.RowLook[row];
    bool span = colours && look != kDefaultLook;
    if (span) next = SwitchSpan(next, kDefaultLook, look);
    const bool* plain =
        mode == RENDER_JSON ? kPlainAscii.Json : kPlainAscii.Html;
    const uint8_t* p = ascii;
    const uint8_t* end = ascii + written;
    while (p < end) {
      const uint8_t* stretch_end = p;
      while (end - stretch_end >= 8 &&
             !MayNeedEscape(Load8(stretch_end), mode)) {
        stretch_end += 8;
      }
      while (stretch_end < end && plain[*stretch_end]) ++stretch_end;
      std::memcpy(next, p, static_cast<size_t>(stretch_end - p));
      next += stretch_end - p;
      p = stretch_end;
      if (p < end) next = PutEscaped(next, *p++, mode);
    }
    if (span) next = Put(next, "</span>");
    return static_cast<size_t>(next - out);
  }
  uint16_t open = kDefaultLook;
  for (int column = 0; column < written; ++column) {
    uint16_t look = screen.Looks[row][column];
    if (colours && look != open) {
      next = SwitchSpan(next, open, look);
      open = look;
    }
    uint32_t c = ascii[column] != 0 ? ascii[column] : screen.Wide[row][column];
    if (NeedsEscape(c, mode)) {
      next = PutEscaped(next, c, mode);
    } else if (c < 0x80) {
      *next++ = static_cast<char>(c);
    } else {
      next = PutUtf8(next, c);
    }
  }
  if (open != kDefaultLook) next = SwitchSpan(next, open, kDefaultLook);
  return static_cast<size_t>(next - out);
}
