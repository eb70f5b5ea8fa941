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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_files.h"
#include "board/records.h"
#include "fuzz/fuzz_support.h"
#include "listing/entry_expansion.h"
#include "listing/output_page.h"
#include "text/code_pages.h"
#include "text/short_text.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if ('a' <= c && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if ('A' <= c && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Grouped(int32_t value) {
  std::string digits = std::to_string(std::llabs(int64_t{value}));
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<size_t>(at), ",");
  }
  return (value < 0 ? "-" : "") + digits;
}

// `text` for HTML: the five markup bytes as entities, nothing else changed.
std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&#39;";
    } else {
      out += c;
    }
  }
  return out;
}

// `text` for a link: all but the unreserved bytes as "%" and two hex digits.
std::string Link(const std::string& text) {
  static const char kUnreserved[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  std::string out;
  for (char c : text) {
    if (c != '\0' && std::strchr(kUnreserved, c) != nullptr) {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

// The characters of one run of board text. UTF-8: at each byte, the longest
// prefix of a well-formed sequence (the rows of the standard's table of
// them) is one character when whole, and one U+FFFD when not (at least one
// byte).
std::vector<uint32_t> Decode(std::string_view run, int page) {
  static const uint8_t kRows[9][8] = {
      {1, 0x00, 0x7F}, {2, 0xC2, 0xDF, 0x80, 0xBF},
      {3, 0xE0, 0xE0, 0xA0, 0xBF, 0x80, 0xBF},
      {3, 0xE1, 0xEC, 0x80, 0xBF, 0x80, 0xBF},
      {3, 0xED, 0xED, 0x80, 0x9F, 0x80, 0xBF},
      {3, 0xEE, 0xEF, 0x80, 0xBF, 0x80, 0xBF},
      {4, 0xF0, 0xF0, 0x90, 0xBF, 0x80, 0xBF},
      {4, 0xF1, 0xF3, 0x80, 0xBF, 0x80, 0xBF},
      {4, 0xF4, 0xF4, 0x80, 0x8F, 0x80, 0xBF}};
  std::vector<uint32_t> chars;
  for (size_t i = 0; i < run.size();) {
    auto at = [&](size_t k) { return static_cast<uint8_t>(run[i + k]); };
    if (page != CODE_PAGE_UTF8) {
      uint32_t c = at(0) < 0x80 ? at(0) : kHighCharacters[page][at(0) - 0x80];
      if (c != 0) chars.push_back(c);
      ++i;
      continue;
    }
    size_t best = 0, whole = 0;
    for (const auto& row : kRows) {
      size_t k = 0;
      // Bytes after the third are 80-BF in every row.
      while (k < row[0] && i + k < run.size() &&
             at(k) >= (k < 3 ? row[1 + 2 * k] : 0x80) &&
             at(k) <= (k < 3 ? row[2 + 2 * k] : 0xBF)) {
        ++k;
      }
      if (k > best) best = k, whole = k == row[0];
    }
    if (whole) {
      uint32_t c = best == 1 ? at(0) : at(0) & (0x7F >> best);
      for (size_t k = 1; k < best; ++k) c = c << 6 | (at(k) & 0x3F);
      chars.push_back(c);
    } else {
      chars.push_back(0xFFFD);
    }
    i += std::max<size_t>(best, 1);
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
    long v = p[k];
    if (v == 38 || v == 48) {
      long next = k + 1 < p.size() ? p[k + 1] : -1;
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

// One line of board text as its terminal shows it: each character with the
// colours it is shown in.
std::vector<std::pair<uint32_t, int>> Cells(const std::string& line, int page,
                                            Paint& paint) {
  std::vector<std::pair<uint32_t, int>> cells;
  std::string run;
  auto end_run = [&] {
    for (uint32_t c : Decode(run, page)) {
      if (c < 0x80 || c > 0x9F) cells.push_back({c, paint.Shown()});
    }
    run.clear();
  };
  for (size_t i = 0; i < line.size(); ++i) {
    auto byte = static_cast<uint8_t>(line[i]);
    if (byte != 0x1B) {
      if ((byte >= 0x20 && byte != 0x7F) || byte == '\t') {
        run += line[i];
      } else {
        end_run();
      }
      continue;
    }
    end_run();
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
      numbers.push_back(!digits        ? -1
                        : one.empty()  ? 0
                        : one.size() > 9 ? 1000000000
                                         : std::stol(one));
    }
    if (line[final] == 'm') Sgr(numbers, paint);
    long blanks = numbers[0] <= 0 ? 1 : std::min(numbers[0], 80L);
    if (line[final] == 'C') cells.insert(cells.end(), blanks, {' ', 0x70});
    i = final;
  }
  end_run();
  return cells;
}

// A rendered line: HTML with spans (`colours`) or without, or JSON.
std::string Render(const std::string& line, int page, char kind,
                   Paint& paint) {
  std::string out;
  int open = 0x70;
  for (auto [c, shown] : Cells(line, page, paint)) {
    if (kind == 'C' && shown != open) {
      if (open != 0x70) out += "</span>";
      std::string f = "fg" + std::to_string(shown / 16);
      std::string b = "bg" + std::to_string(shown % 16);
      if (shown / 16 == 7) f.clear();
      if (shown % 16 == 0) b.clear();
      if (!f.empty() && !b.empty()) f += " ";
      if (shown != 0x70) out += "<span class=\"" + f + b + "\">";
      open = shown;
    }
    const char* json = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\t' ? "\\t"
                       : nullptr;
    char hex[8];
    if (kind == 'J' && json != nullptr) {
      out += json;
    } else if (kind == 'J' && ((c != 0 && c < 0x80 &&
                                std::strchr("<>&'", static_cast<int>(c))) ||
                               c == 0x2028 || c == 0x2029)) {
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += kind == 'J' ? Utf8(c) : Html(Utf8(c));
    }
  }
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

// The description lines, each but the last with a blank, each piece capped
// at 255 bytes.
std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    text += i + 1 < items.size() ? (items[i] + " ").substr(0, 255) : items[i];
  }
  return text;
}

// The expansion, step by step as the rules give it: positions count from 1,
// 0 is a token that does not occur, and only the first occurrence counts.
std::string ReferenceExpansion(const std::string& line, const std::string& name,
                               int32_t size,
                               const std::vector<std::string>& items,
                               const std::string& link_path, int code_page) {
  constexpr int kTokens = 19;
  const std::string tokens[kTokens] = {
      "@LNAME@",  "@UNAME@",  "@SIZEK@",  "@SIZEB@",  "@DESC@",
      "@PATH@",   "@HLNAME@", "@HUNAME@", "@HDESC@",  "@ULNAME@",
      "@UUNAME@", "@NAME@",   "@HNAME@",  "@URLNAME@", "@TNAME@",
      "@TDESC@",  "@JNAME@",  "@JDESC@",  "@BYTES@"};
  std::string description = Joined(items);
  Paint paint;
  const std::string values[kTokens] = {
      Lower(name),       Upper(name),       std::to_string(size / 1024),
      Grouped(size),     description,       link_path,
      Html(Lower(name)), Html(Upper(name)), Html(description),
      Link(Lower(name)), Link(Upper(name)), name,
      Html(name),        Link(name),        Render(name, code_page, 'H', paint),
      RenderedDescription(items, code_page, 'C'),
      Render(name, code_page, 'J', paint),
      RenderedDescription(items, code_page, 'J'),
      std::to_string(static_cast<uint32_t>(size))};
  std::string upper = Upper(line);
  size_t position[kTokens];
  bool any = false;
  for (int t = 0; t < kTokens; ++t) {
    size_t at = upper.find(tokens[t]);
    position[t] = at == std::string::npos ? 0 : at + 1;
    any = any || position[t] != 0;
  }
  if (!any) return line + "\n";
  std::string page;
  size_t length = line.size();
  for (size_t i = 1;; ++i) {
    int t = 0;
    while (t < kTokens && position[t] != i) ++t;
    if (t < kTokens) {
      page += values[t];
      i += tokens[t].size() - 1;
    } else {
      page += line[i - 1];
    }
    if (i >= length) break;
  }
  return page + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  ShortText line = MakeShortText(input.ConsumeRandomLengthString(255));
  FileListRecord record;
  record.Name = MakeShortText(input.ConsumeRandomLengthString(kNameCapacity));
  ShortText link_path = MakeShortText(input.ConsumeRandomLengthString(255));
  auto buffered = input.ConsumeIntegralInRange<size_t>(0, 300);
  auto code_page = static_cast<CodePage>(
      input.ConsumeIntegralInRange<int>(0, CODE_PAGE_UTF8));
  record.Size = input.ConsumeIntegral<int32_t>();
  record.DescriptionLines = input.ConsumeIntegral<uint8_t>();
  bool as_given = input.ConsumeBool();
  record.DescriptionOffset = input.ConsumeIntegral<int32_t>();
  std::string des = input.ConsumeRemainingBytesAsString();
  if (!as_given) {
    record.DescriptionOffset =
        static_cast<int32_t>(static_cast<uint32_t>(record.DescriptionOffset) %
                             (des.size() + 3)) -
        1;
  }

  int des_fd = MemoryFile(des);
  DescriptionStore store;
  FUZZ_CHECK(OpenDescriptionStore(DescriptorPath(des_fd), store) == 0);
  std::vector<std::string> items;
  bool readable = ReferenceDescription(des, record.DescriptionOffset,
                                       record.DescriptionLines, &items);
  // An unreadable description ends the process; such inputs are left out.
  std::string upper_line = Upper(ToString(line));
  if (upper_line.find("DESC@") != std::string::npos) {
    // Kept from one input to the next: a description is 64 KiB.
    static Description description;
    int error = ReadDescription(store, record.DescriptionOffset,
                                record.DescriptionLines, &description);
    FUZZ_CHECK((error == 0) == readable);
    if (error != 0) {
      CloseDescriptionStore(store);
      return 0;
    }
  }

  int page_fd = MemoryFile("", 1);
  OutputPage page;
  StartPage(page, dup(page_fd));
  std::string expected(buffered, '<');
  PutPageText(page, expected);
  ExpandEntryLine(line, record, link_path, store, code_page, page);
  ClosePage(page);
  expected +=
      ReferenceExpansion(ToString(line), ToString(record.Name), record.Size,
                         items, ToString(link_path), code_page);
  FUZZ_CHECK(FileBytes(page_fd) == expected);

  CloseDescriptionStore(store);
  return 0;
}
