// Expands arbitrary entry-template lines for arbitrary records, link paths
// and ".des" bytes into a page in memory, and compares the page with a plain
// rendering of the expansion rules written apart from the program.
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

// The terminal's colour state: foreground, background, bold, reverse.
struct Paint {
  int fg = 7, bg = 0;
  bool bold = false, reverse = false;
  int Shown() const {
    int f = bold && fg < 8 ? fg + 8 : fg;
    return reverse ? bg * 16 + f : f * 16 + bg;
  }
};

void Sgr(const std::vector<long>& p, Paint& paint) {
  for (size_t k = 0; k < p.size(); ++k) {
    long v = p[k], next = k + 1 < p.size() ? p[k + 1] : -1;
    if (v == 38 || v == 48) {
      k += next == 5 ? 2 : next == 2 ? 4 : 0;
    } else if (v == 0) {
      paint = Paint();
    } else if (v == 1 || v == 22) {
      paint.bold = v == 1;
    } else if (v == 7 || v == 27) {
      paint.reverse = v == 7;
    } else if ((v >= 30 && v <= 39 && v != 38) || (v >= 90 && v <= 97)) {
      paint.fg = v == 39 ? 7 : v % 10 + (v >= 90 ? 8 : 0);
    } else if ((v >= 40 && v <= 49 && v != 48) || (v >= 100 && v <= 107)) {
      paint.bg = v == 49 ? 0 : v % 10 + (v >= 100 ? 8 : 0);
    }
  }
}

// One line of board text as its terminal shows it, for HTML with colours
// ('C') or without ('H'), or for a JSON string ('J').
std::string Render(const std::string& line, int page, char kind,
                   Paint& paint) {
  std::string out, run;
  int open = 0x70;  // the colours of the open span; 0x70: none is open
  auto put = [&](uint32_t c, int shown) {
    if (c >= 0x80 && c <= 0x9F) return;
    if (kind == 'C' && shown != open) {
      std::string f = "fg" + std::to_string(shown / 16);
      std::string b = "bg" + std::to_string(shown % 16);
      if (shown / 16 == 7) f.clear();
      if (shown % 16 == 0) b.clear();
      if (!f.empty() && !b.empty()) f += " ";
      if (open != 0x70) out += "</span>";
      if (shown != 0x70) out += "<span class=\"" + f + b + "\">";
      open = shown;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\u%04x", c);
    bool unicode = c == 0x2028 || c == 0x2029 || c == '<' || c == '>' ||
                   c == '&' || c == '\'';
    if (kind != 'J') {
      out += Escaped(Utf8(c), false);
    } else if (c == '"' || c == '\\' || c == '\t') {
      out += c == '\t' ? "\\t" : "\\" + Utf8(c);
    } else {
      out += unicode ? hex : Utf8(c);
    }
  };
  auto end_run = [&] {
    for (uint32_t c : Decode(run, page)) put(c, paint.Shown());
    run.clear();
  };
  for (size_t i = 0; i < line.size(); ++i) {
    auto byte = static_cast<uint8_t>(line[i]);
    if ((byte >= 0x20 && byte != 0x7F) || byte == '\t') {
      run += line[i];
      continue;
    }
    end_run();
    if (byte != 0x1B) continue;
    if (i + 1 == line.size() || line[i + 1] != '[') {
      ++i;
      continue;
    }
    size_t final = i + 2;
    while (final < line.size() && (line[final] < 0x40 || line[final] > 0x7E)) {
      ++final;
    }
    if (final == line.size()) break;
    std::vector<long> numbers;  // -1: not a number; 10^9: too large
    std::string text = line.substr(i + 2, final - i - 2) + ";";
    for (size_t at = 0, semi; (semi = text.find(';', at)) != text.npos;
         at = semi + 1) {
      std::string one = text.substr(at, semi - at);
      bool digits = one.find_first_not_of("0123456789") == one.npos;
      one.erase(0, one.find_first_not_of('0'));  // leading zeros count nothing
      numbers.push_back(!digits ? -1 : one.size() > 9 ? 1000000000
                                                       : std::atol(one.c_str()));
    }
    if (line[final] == 'm') Sgr(numbers, paint);
    long blanks = numbers[0] <= 0 ? 1 : std::min(numbers[0], 80L);
    for (long k = 0; line[final] == 'C' && k < blanks; ++k) put(' ', 0x70);
    i = final;
  }
  end_run();
  if (open != 0x70) out += "</span>";
  return out;
}

// The description rendered line by line, the colours carried on.
std::string RenderedDescription(const std::vector<std::string>& items,
                                int page, char kind) {
  Paint paint;
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += kind == 'J' ? "\\n" : "<br>";
    text += Render(items[i], page, kind, paint);
  }
  return text;
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
  Paint paint;
  const std::string values[] = {
      lower, upper, std::to_string(size / 1024), Grouped(size), description,
      link_path, Escaped(lower, false), Escaped(upper, false),
      Escaped(description, false), Escaped(lower, true), Escaped(upper, true),
      name, Escaped(name, false), Escaped(name, true),
      Render(name, code_page, 'H', paint),
      RenderedDescription(items, code_page, 'C'),
      Render(name, code_page, 'J', paint),
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
  ExpandEntryLine(line, record, link_path, store, code_page, page);
  ClosePage(page);
  expected += ReferenceExpansion(std::string(View(line)),
                                 std::string(View(record.Name)), record.Size,
                                 joined, items, std::string(View(link_path)),
                                 code_page);
  FUZZ_CHECK(FileBytes(page_fd) == expected);
  CloseDescriptionStore(store);
  return 0;
}
