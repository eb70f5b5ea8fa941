// Expands arbitrary entry-template lines for arbitrary records, link paths
// and ".des" bytes into a page in memory, and compares the page with a plain
// rendering of the expansion rules, and a terminal screen of its own,
// written apart from the program.
//
// Input, as FuzzedDataProvider takes it: the line, the name and the link
// path (escaped strings from the front), then from the back the bytes already
// in the page buffer, the code page, Size, DescriptionLines, whether
// DescriptionOffset is taken as given or folded into the ".des" file, and
// DescriptionOffset; what is left in the middle is the ".des" file.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "board/board_files.h"
#include "board/records.h"
#include "fuzz/fuzz_support.h"
#include "listing/entry_expansion.h"
#include "listing/output_page.h"
#include "text/code_pages.h"

namespace {

// `text` with the letters of one case (a..z, or A..Z when `lower`) moved to
// the other.
std::string Cased(std::string text, bool lower) {
  for (char& c : text) {
    if (c >= (lower ? 'A' : 'a') && c <= (lower ? 'Z' : 'z')) c ^= 0x20;
  }
  return text;
}

std::string Grouped(int32_t value) {
  std::string digits = std::to_string(std::llabs(int64_t{value}));
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return (value < 0 ? "-" : "") + digits;
}

// `text` for HTML (the five markup bytes as entities) or for a link (all but
// the unreserved bytes as "%" and two hex digits).
std::string Escaped(const std::string& text, bool link) {
  const std::string entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
  std::string out;
  for (unsigned char c : text) {
    size_t markup = std::string_view("&<>\"'").find(char(c));
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    bool plain = c < 128 && (isalnum(c) || (c && std::strchr("-._~", c)));
    if (link) out += plain ? std::string(1, char(c)) : hex;
    if (!link) out += markup > 4 ? std::string(1, char(c)) : entities[markup];
  }
  return out;
}

// The value of `s` as one well-formed UTF-8 character, or -1: the lead byte
// gives the length, the others are 10xxxxxx, and the value is neither
// overlong, a surrogate nor above U+10FFFF.
long Scalar(std::string_view s) {
  auto lead = static_cast<uint8_t>(s[0]);
  size_t n = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2
           : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
  if (n != s.size()) return -1;
  long c = n == 1 ? lead : lead & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((s[k] & 0xC0) != 0x80) return -1;
    c = c << 6 | (s[k] & 0x3F);
  }
  const long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  return c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) ? -1 : c;
}

// The characters of a run of board text. In UTF-8, a whole character where
// one starts, else U+FFFD for the longest prefix (one byte at least) that
// some completion with 0x80 or 0xBF bytes would make whole.
std::vector<uint32_t> Decode(std::string_view run, int page) {
  std::vector<uint32_t> chars;
  for (size_t i = 0, take = 1; i < run.size(); i += take, take = 1) {
    auto byte = static_cast<uint8_t>(run[i]);
    long c = byte < 0x80                ? byte
             : page == CODE_PAGE_UTF8 ? 0xFFFD
                                      : kHighCharacters[page][byte - 0x80];
    for (size_t k = 1; page == CODE_PAGE_UTF8 && k <= 4 && i + k <= run.size();
         ++k) {
      for (size_t n = k; n <= 4; ++n) {
        for (char fill : {'\x80', '\xBF'}) {
          long value =
              Scalar(std::string(run.substr(i, k)) + std::string(n - k, fill));
          if (value >= 0) take = k, c = n == k ? value : 0xFFFD;
        }
      }
    }
    if (c != 0) chars.push_back(static_cast<uint32_t>(c));
  }
  return chars;
}

std::string Utf8(uint32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  std::string tail;
  uint32_t room = 0x3F;  // the bits that the lead byte still has room for
  for (; c > room; c >>= 6, room >>= 1) {
    tail.insert(tail.begin(), static_cast<char>(0x80 | (c & 0x3F)));
  }
  return static_cast<char>((0xFF << (7 - tail.size())) | c) + tail;
}

// A DOS ANSI terminal of 80 columns and 2,048 rows, kept as plainly as it
// can be: rows appear as they are written, each cell its character and the
// colours it is shown in.
struct Cell {
  uint32_t c = ' ';
  int fg = 7, bg = 0;
  bool blink = false;
  bool Blank() const { return c == ' ' && fg == 7 && bg == 0 && !blink; }
};

int Nearest(long r, long g, long b) {
  static const long vga[16] = {0x000000, 0xAA0000, 0x00AA00, 0xAA5500,
                               0x0000AA, 0xAA00AA, 0x00AAAA, 0xAAAAAA,
                               0x555555, 0xFF5555, 0x55FF55, 0xFFFF55,
                               0x5555FF, 0xFF55FF, 0x55FFFF, 0xFFFFFF};
  int best = 0;
  for (int k = 1; k < 16; ++k) {
    auto d = [&](int n) {
      long dr = r - (vga[n] >> 16), dg = g - (vga[n] >> 8 & 255),
           db = b - (vga[n] & 255);
      return dr * dr + dg * dg + db * db;
    };
    if (d(k) < d(best)) best = k;
  }
  return best;
}

int Of256(long n) {
  if (n < 16) return int(n);
  if (n >= 232)
    return Nearest(8 + 10 * (n - 232), 8 + 10 * (n - 232), 8 + 10 * (n - 232));
  static const long level[6] = {0, 95, 135, 175, 215, 255};
  n -= 16;
  return Nearest(level[n / 36], level[n / 6 % 6], level[n % 6]);
}

struct Term {
  std::vector<std::vector<Cell>> rows;
  int row = 0, col = 0, saved_row = 0, saved_col = 0;
  int fg = 7, bg = 0;
  bool bold = false, blink = false, reverse = false;
  bool wrapped = false, ended = false;

  void Put(uint32_t c) {
    if (c == 0 || (c >= 0x80 && c <= 0x9F)) return;
    if (rows.size() <= size_t(row)) rows.resize(row + 1, std::vector<Cell>(80));
    Cell& cell = rows[row][col];
    cell.c = c;
    int f = bold && fg < 8 ? fg + 8 : fg, b = bg;
    cell.fg = reverse ? b % 8 + f / 8 * 8 : f;
    cell.bg = reverse ? f % 8 + b / 8 * 8 : b;
    cell.blink = blink;
    Moved();
    if (++col == 80) col = 0, row = std::min(row + 1, 2047), wrapped = true;
  }
  void Moved() { wrapped = false; }
  void LineEnd() {
    if (!wrapped) col = 0, row = std::min(row + 1, 2047);
    wrapped = false;
  }
  void Sgr(const std::vector<long>& p) {
    for (size_t k = 0; k < p.size(); ++k) {
      long v = p[k];
      if ((v == 38 || v == 48) && k + 1 < p.size() && p[k + 1] == 5) {
        if (k + 2 < p.size() && p[k + 2] < 256)
          (v == 38 ? fg : bg) = Of256(p[k + 2]);
        k += 2;
      } else if ((v == 38 || v == 48) && k + 1 < p.size() && p[k + 1] == 2) {
        if (k + 4 < p.size() &&
            std::max({p[k + 2], p[k + 3], p[k + 4]}) < 256) {
          (v == 38 ? fg : bg) = Nearest(p[k + 2], p[k + 3], p[k + 4]);
        }
        k += 4;
      } else if (v == 0) {
        fg = 7, bg = 0, bold = blink = reverse = false;
      } else if (v == 1 || v == 22) {
        bold = v == 1;
      } else if (v == 5 || v == 6 || v == 25) {
        blink = v != 25;
      } else if (v == 7 || v == 27) {
        reverse = v == 7;
      } else if ((v >= 30 && v <= 37) || v == 39 || (v >= 90 && v <= 97)) {
        fg = v == 39 ? 7 : v % 10 + (v >= 90 ? 8 : 0);
      } else if ((v >= 40 && v <= 47) || v == 49 || (v >= 100 && v <= 107)) {
        bg = v == 49 ? 0 : v % 10 + (v >= 100 ? 8 : 0);
      }
    }
  }
  void Sequence(const std::string& text, char final) {
    if (text.find_first_not_of("0123456789;") != text.npos) return;
    std::vector<long> p;
    for (size_t at = 0;;) {
      size_t semi = std::min(text.find(';', at), text.size());
      std::string digits = text.substr(at, semi - at);
      digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
      p.push_back(digits.size() > 4
                      ? 9999
                      : std::min(9999L, std::atol(digits.c_str())));
      if (semi == text.size()) break;
      at = semi + 1;
    }
    long n = p[0] == 0 ? 1 : p[0];
    if (final == 'A') row = std::max(0L, row - n);
    if (final == 'B') row = std::min(2047L, row + n);
    if (final == 'C') col = std::min(79L, col + n);
    if (final == 'D') col = std::max(0L, col - n);
    if (final == 'H' || final == 'f') {
      row = std::min(2048L, n) - 1;
      col = std::min(80L, p.size() > 1 && p[1] > 0 ? p[1] : 1) - 1;
    }
    if (final == 's') saved_row = row, saved_col = col;
    if (final == 'u') row = saved_row, col = saved_col;
    if (final == 'J' && p[0] == 2) rows.clear(), row = col = 0, Moved();
    if (final == 'K' && p[0] == 0) {
      int r = row, c = col;
      bool w = wrapped;
      for (int k = c; k < 80; ++k) Put(' ');
      row = r, col = c, wrapped = w;
    }
    if (final == 'm') Sgr(p);
    if (std::string_view("ABCDHfu").find(final) != std::string_view::npos)
      Moved();
  }
};
// Plays one line of board text of code page `page` on `term`.
void Play(Term& term, const std::string& line, int page) {
  static const uint16_t glyph[32] = {
      0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0,
      0,      0,      0,      0x2642, 0x2640, 0,      0x266B, 0x263C,
      0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
      0x2191, 0x2193, 0,      0,      0x221F, 0x2194, 0x25B2, 0x25BC};
  std::string run;  // text bytes not yet decoded
  auto flush = [&] {
    for (uint32_t c : Decode(run, page)) term.Put(c);
    run.clear();
  };
  // The byte at `k`, or -1 past the end of the line.
  auto at = [&](size_t k) {
    return k < line.size() ? int(uint8_t(line[k])) : -1;
  };
  size_t i = 0;
  while (i < line.size() && !term.ended) {
    int b = at(i++);
    if (b >= 0x20 && b != 0x7F) {
      run += char(b);
      continue;
    }
    flush();
    if (b == 0x08) {
      term.col = std::max(0, term.col - 1), term.Moved();
    } else if (b == 0x09) {
      term.col = term.col >= 72 ? 79 : term.col / 8 * 8 + 8, term.Moved();
    } else if (b == 0x0A) {
      term.row = std::min(2047, term.row + 1), term.Moved();
    } else if (b == 0x0D) {
      term.col = 0, term.Moved();
    } else if (b == 0x1A) {
      term.ended = true;
    } else if (b != 0x1B && b != 0x07) {
      if (page <= CODE_PAGE_866) term.Put(b == 0x7F ? 0x2302 : glyph[b]);
    } else if (b == 0x07) {
    } else if (at(i) == '[') {
      size_t k = i + 1;
      while (at(k) >= 0x20 && at(k) <= 0x3F) ++k;
      if (at(k) >= 0x40 && at(k) <= 0x7E) {
        term.Sequence(line.substr(i + 1, k - i - 1), char(at(k)));
        ++k;
      }
      i = k;  // past the final, or at the byte that cut the sequence short
    } else if (at(i) > 0 && std::strchr("]PX^_", at(i))) {
      size_t k = i + 1;
      while (k < line.size() && at(k) != 0x07 && at(k) != 0x1A && at(k) != 0x1B)
        ++k;
      if (at(k) == 0x07) ++k;
      if (at(k) == 0x1B && at(k + 1) == '\\') k += 2;
      i = k;
    } else if (at(i) >= 0x20 && at(i) <= 0x2F) {
      while (at(i) >= 0x20 && at(i) <= 0x2F) ++i;
      if (at(i) >= 0x30 && at(i) <= 0x7E) ++i;
    } else if (at(i) >= 0x30 && at(i) <= 0x7E) {
      ++i;
    }
  }
  flush();
}

// The rows of `term` for HTML with colours ('C') or without ('H'), or for a
// JSON string ('J').
std::string Rows(const Term& term, char kind) {
  std::vector<std::string> out;
  size_t kept = 0;
  for (const std::vector<Cell>& cells : term.rows) {
    size_t n = 80;
    while (n > 0 && cells[n - 1].Blank()) --n;
    std::string text, open;
    for (size_t k = 0; k < n; ++k) {
      const Cell& cell = cells[k];
      std::string classes;
      if (cell.fg != 7) classes += " fg" + std::to_string(cell.fg);
      if (cell.bg != 0) classes += " bg" + std::to_string(cell.bg);
      if (cell.blink) classes += " blink";
      if (kind == 'C' && classes != open) {
        if (!open.empty()) text += "</span>";
        if (!classes.empty())
          text += "<span class=\"" + classes.substr(1) + "\">";
        open = classes;
      }
      uint32_t c = cell.c;
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      bool unicode = c == 0x2028 || c == 0x2029 || c == '<' || c == '>' ||
                     c == '&' || c == '\'';
      if (kind != 'J') {
        text += Escaped(Utf8(c), false);
      } else if (c == '"' || c == '\\') {
        text += "\\" + Utf8(c);
      } else {
        text += unicode ? hex : Utf8(c);
      }
    }
    if (!open.empty()) text += "</span>";
    out.push_back(text);
    if (n > 0) kept = out.size();
  }
  std::string joined;
  for (size_t r = 0; r < kept; ++r) {
    joined += (r > 0 ? (kind == 'J' ? "\\n" : "<br>") : "") + out[r];
  }
  return joined;
}

std::string RenderedName(const std::string& name, int page, char kind) {
  Term term;
  Play(term, name, page);
  return Rows(term, kind);
}

// The description lines played one after the other, each with a line end.
std::string RenderedDescription(const std::vector<std::string>& items, int page,
                                char kind) {
  Term term;
  for (const std::string& item : items) {
    Play(term, item, page);
    if (!term.ended) term.LineEnd();
  }
  return Rows(term, kind);
}

// The expansion as the rules give it: each token is replaced where it first
// stands, in any letter case, unless that is inside another replaced one.
std::string ReferenceExpansion(const std::string& line, const std::string& name,
                               int32_t size, const std::string& description,
                               const std::vector<std::string>& items,
                               const std::string& link_path, int code_page) {
  const std::string lower = Cased(name, true), upper = Cased(name, false);
  // clang-format off
  const std::string tokens[] = {
      "@LNAME@", "@UNAME@", "@SIZEK@", "@SIZEB@", "@DESC@", "@PATH@",
      "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@", "@UUNAME@", "@NAME@",
      "@HNAME@", "@URLNAME@", "@TNAME@", "@TDESC@", "@JNAME@", "@JDESC@",
      "@BYTES@"};
  const std::string values[] = {
      lower, upper, std::to_string(size / 1024), Grouped(size), description,
      link_path, Escaped(lower, false), Escaped(upper, false),
      Escaped(description, false), Escaped(lower, true), Escaped(upper, true),
      name, Escaped(name, false), Escaped(name, true),
      RenderedName(name, code_page, 'H'),
      RenderedDescription(items, code_page, 'C'),
      RenderedName(name, code_page, 'J'),
      RenderedDescription(items, code_page, 'J'),
      std::to_string(uint32_t(size))};
  // clang-format on
  size_t first[std::size(tokens)];
  for (size_t t = 0; t < std::size(tokens); ++t) {
    first[t] = Cased(line, false).find(tokens[t]);
  }
  std::string page;
  for (size_t i = 0; i < line.size(); ++i) {
    size_t t = 0;
    while (t < std::size(tokens) && first[t] != i) ++t;
    page += t < std::size(tokens) ? values[t] : line.substr(i, 1);
    if (t < std::size(tokens)) i += tokens[t].size() - 1;
  }
  return page + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  ShortText line = MakeShortText(input.ConsumeRandomLengthString(255));
  FileListRecord record;
  record.Name = MakeShortText(input.ConsumeRandomLengthString(70));
  ShortText link_path = MakeShortText(input.ConsumeRandomLengthString(255));
  auto buffered = input.ConsumeIntegralInRange<size_t>(0, 300);
  auto code_page = CodePage(input.ConsumeIntegralInRange<int>(0, CODE_PAGE_UTF8));
  record.Size = input.ConsumeIntegral<int32_t>();
  record.DescriptionLines = input.ConsumeIntegral<uint8_t>();
  bool as_given = input.ConsumeBool();
  record.DescriptionOffset = input.ConsumeIntegral<int32_t>();
  std::string des = input.ConsumeRemainingBytesAsString();
  if (!as_given) {  // folded into the file and just around it
    record.DescriptionOffset =
        int32_t(uint32_t(record.DescriptionOffset) % (des.size() + 3)) - 1;
  }

  DescriptionStore store;
  FUZZ_CHECK(OpenDescriptionStore(DescriptorPath(MemoryFile(des)), store) == 0);
  std::vector<std::string> items;
  bool readable = ReferenceDescription(des, record.DescriptionOffset,
                                       record.DescriptionLines, &items);
  // The description lines, each but the last with a blank, each piece
  // capped at 255 bytes.
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    joined += i + 1 < items.size() ? (items[i] + " ").substr(0, 255) : items[i];
  }
  // An unreadable description ends the process; such inputs are left out
  // (the board files target checks which are readable).
  if (!readable && Cased(std::string(View(line)), false).find("DESC@") !=
                       std::string::npos) {
    CloseDescriptionStore(store);
    return 0;
  }

  int page_fd = MemoryFile("", 1);
  OutputPage page;
  StartPage(page, dup(page_fd));
  std::string expected(buffered, '<');
  PutPageText(page, expected);
  // The line twice with the same kept tokens: found, then taken as kept.
  // The tokens of the last input's line are kept as well, and must not
  // stand for another line.
  static LineTokens tokens;
  Entry entry{record, link_path, store, code_page, page};
  ExpandEntryLine(line, tokens, entry);
  ExpandEntryLine(line, tokens, entry);
  ClosePage(page);
  std::string expansion = ReferenceExpansion(
      std::string(View(line)), std::string(View(record.Name)), record.Size,
      joined, items, std::string(View(link_path)), code_page);
  expected += expansion + expansion;
  FUZZ_CHECK(FileBytes(page_fd) == expected);
  CloseDescriptionStore(store);
  return 0;
}
