#include "tools/board_text.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

constexpr size_t kNameLimit = 70;          // the Name field's capacity
constexpr size_t kTextLimit = 255;         // any ShortText
constexpr size_t kDescriptionLimit = 255;  // DescriptionLines is one byte
constexpr auto npos = std::string_view::npos;

// Takes the first field off `*rest`: the bytes up to the next blank, which
// goes too, or up to the end.
std::string_view NextField(std::string_view* rest) {
  size_t blank = rest->find(' ');
  std::string_view field = rest->substr(0, blank);
  rest->remove_prefix(blank == npos ? rest->size() : blank + 1);
  return field;
}

// True when `field` is a decimal number from `low` to `high`, given in
// `*value`. No sign but "-", no blanks.
bool ParseNumber(std::string_view field, int64_t low, int64_t high,
                 int64_t* value) {
  const char* end = field.data() + field.size();
  auto [at, result] = std::from_chars(field.data(), end, *value);
  return !field.empty() && result == std::errc() && at == end &&
         *value >= low && *value <= high;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Gives in `*bytes` what `text` states, "\\" and "\xHH" decoded; false on
// any other backslash.
bool Unescape(std::string_view text, std::string* bytes) {
  bytes->clear();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\\') {
      *bytes += text[at];
    } else if (text.substr(at + 1, 1) == "\\") {
      *bytes += '\\';
      at += 1;
    } else if (text.substr(at + 1, 1) == "x" && text.size() - at >= 4 &&
               HexDigit(text[at + 2]) >= 0 && HexDigit(text[at + 3]) >= 0) {
      *bytes += static_cast<char>(HexDigit(text[at + 2]) * 16 +
                                  HexDigit(text[at + 3]));
      at += 3;
    } else {
      return false;
    }
  }
  return true;
}

constexpr const char* kBadEscape = "a \\ not followed by \\ or xHH";

std::string AddBase(std::string_view name, BoardText* board) {
  if (name.empty()) return "base without a name";
  if (name.find('/') != npos) return "base name holds a \"/\"";
  for (const TextBase& base : board->Bases) {
    if (base.Name == name) return "base \"" + base.Name + "\" given twice";
  }
  board->Bases.push_back({std::string(name), {}});
  return "";
}

// `fields` is "SIZE FLAGS NAME".
std::string AddFile(std::string_view fields, BoardText* board) {
  if (board->Bases.empty()) return "file before the first base line";
  int64_t size = 0;
  int64_t flags = 0;
  if (!ParseNumber(NextField(&fields), std::numeric_limits<int32_t>::min(),
                   std::numeric_limits<uint32_t>::max(), &size)) {
    return "size is not a number from -2147483648 to 4294967295";
  }
  if (!ParseNumber(NextField(&fields), 0, 255, &flags)) {
    return "flags are not a number from 0 to 255";
  }
  BoardFile file;
  if (!Unescape(fields, &file.Name)) return kBadEscape;
  if (file.Name.empty()) return "file without a name";
  if (file.Name.size() > kNameLimit) return "name longer than 70 bytes";
  // 4294967295 is stored as the same 32 bits as -1.
  file.Size = static_cast<int32_t>(static_cast<uint32_t>(size));
  file.Flags = static_cast<uint8_t>(flags);
  board->Bases.back().Files.push_back(std::move(file));
  return "";
}

std::string AddDescriptionLine(std::string_view text, BoardText* board) {
  if (board->Bases.empty() || board->Bases.back().Files.empty()) {
    return "desc before the base's first file line";
  }
  std::string bytes;
  if (!Unescape(text, &bytes)) return kBadEscape;
  if (bytes.size() > kTextLimit) return "desc longer than 255 bytes";
  std::vector<std::string>& lines =
      board->Bases.back().Files.back().Description;
  if (lines.size() == kDescriptionLimit) return "more than 255 desc lines";
  lines.push_back(std::move(bytes));
  return "";
}

// Applies one statement to `*board`; gives what is wrong with it, or "".
std::string ParseStatement(std::string_view line, BoardText* board,
                           bool* has_list_directory) {
  std::string_view rest = line;
  std::string_view keyword = NextField(&rest);
  if (keyword == "listdir") {
    if (*has_list_directory) return "a second listdir line";
    if (rest.size() > kTextLimit) return "listdir longer than 255 bytes";
    *has_list_directory = true;
    board->ListDirectory = rest;
    return "";
  }
  if (keyword == "base") return AddBase(rest, board);
  if (keyword == "file") return AddFile(rest, board);
  if (keyword == "desc") return AddDescriptionLine(rest, board);
  return "unknown keyword \"" + std::string(keyword) + "\"";
}

}  // namespace

size_t ParseBoardText(std::string_view text, BoardText* board,
                      std::string* error) {
  *board = BoardText();
  bool has_list_directory = false;
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // Indentation is allowed; a line of blanks is an empty line.
    size_t first = line.find_first_not_of(" \t");
    if (first == npos || line[first] == '#') continue;
    *error = ParseStatement(line.substr(first), board, &has_list_directory);
    if (!error->empty()) return number;
  }
  return 0;
}
