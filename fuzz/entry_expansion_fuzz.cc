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
                               int32_t size, const std::string& description,
                               const std::string& link_path) {
  constexpr int kTokens = 11;
  const std::string tokens[kTokens] = {
      "@LNAME@",  "@UNAME@",  "@SIZEK@", "@SIZEB@",  "@DESC@",  "@PATH@",
      "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@", "@UUNAME@"};
  const std::string values[kTokens] = {
      Lower(name),       Upper(name),       std::to_string(size / 1024),
      Grouped(size),     description,       link_path,
      Html(Lower(name)), Html(Upper(name)), Html(description),
      Link(Lower(name)), Link(Upper(name))};
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
  if (upper_line.find("@DESC@") != std::string::npos ||
      upper_line.find("@HDESC@") != std::string::npos) {
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
  ExpandEntryLine(line, record, link_path, store, page);
  ClosePage(page);
  expected +=
      ReferenceExpansion(ToString(line), ToString(record.Name), record.Size,
                         Joined(items), ToString(link_path));
  FUZZ_CHECK(FileBytes(page_fd) == expected);

  CloseDescriptionStore(store);
  return 0;
}
