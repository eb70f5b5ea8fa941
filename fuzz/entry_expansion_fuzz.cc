// Expands arbitrary entry-template lines for arbitrary records, link paths
// and ".des" bytes into a page in memory, and compares the page with a plain
// rendering of the expansion rules written apart from the program.
//
// Input, as FuzzedDataProvider takes it: the line, the name and the link
// path (escaped strings from the front), then from the back the bytes already
// in the page buffer, Size, DescriptionLines, whether DescriptionOffset is
// taken as given or folded into the ".des" file, and DescriptionOffset; what
// is left in the middle is the ".des" file.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <iterator>

#include "board/board_files.h"
#include "board/records.h"
#include "fuzz/fuzz_support.h"
#include "listing/entry_expansion.h"
#include "listing/output_page.h"

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
  std::string out;
  for (unsigned char c : text) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    const char* entity = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;"
                         : c == '"' ? "&quot;" : c == '\'' ? "&#39;" : nullptr;
    bool plain = isalnum(c) || (c && std::strchr("-._~", c));
    out += link ? (c < 128 && plain ? std::string(1, c) : hex)
                : (entity ? entity : std::string(1, c));
  }
  return out;
}

// The expansion as the rules give it: each token is replaced where it first
// stands, in any letter case, unless that is inside another replaced one.
std::string ReferenceExpansion(const std::string& line, const std::string& name,
                               int32_t size, const std::string& description,
                               const std::string& link_path) {
  const std::string tokens[] = {
      "@LNAME@",  "@UNAME@",  "@SIZEK@", "@SIZEB@",  "@DESC@",  "@PATH@",
      "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@", "@UUNAME@"};
  const std::string lower = Cased(name, true), upper = Cased(name, false);
  const std::string values[] = {
      lower, upper, std::to_string(size / 1024), Grouped(size), description,
      link_path, Escaped(lower, false), Escaped(upper, false),
      Escaped(description, false), Escaped(lower, true), Escaped(upper, true)};
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
  // An unreadable description ends the process; such inputs are left out.
  std::string upper_line = Cased(std::string(View(line)), false);
  if (upper_line.find("DESC@") != std::string::npos) {
    static Description description;  // 64 KiB: kept from input to input
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
  ExpandEntryLine(line, record, link_path, store, page);
  ClosePage(page);
  expected += ReferenceExpansion(std::string(View(line)), std::string(View(record.Name)),
                                 record.Size, joined, std::string(View(link_path)));
  FUZZ_CHECK(FileBytes(page_fd) == expected);
  CloseDescriptionStore(store);
  return 0;
}
