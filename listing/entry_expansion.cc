#include "listing/entry_expansion.h"

#include <string_view>

#include "system/fatal.h"
#include "text/escaping.h"
#include "text/text_helpers.h"

namespace {

// The tokens: the six that copy the record's data as it is, then the five
// that escape the uploaders' text for HTML ("@H...@") or for a link
// ("@U...@").
enum Token {
  kLowerName,
  kUpperName,
  kSizeK,
  kSizeB,
  kDesc,
  kPath,
  kHtmlLowerName,
  kHtmlUpperName,
  kHtmlDesc,
  kLinkLowerName,
  kLinkUpperName,
  kTokens
};

constexpr std::string_view kTokenText[kTokens] = {
    "@LNAME@",  "@UNAME@",  "@SIZEK@", "@SIZEB@",  "@DESC@",  "@PATH@",
    "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@", "@UUNAME@"};

// The lengths of the shortest and the longest token.
constexpr size_t kShortestToken = 6;
constexpr size_t kLongestToken = 8;

// Writes `text` (at most 255 bytes) with the HTML escapes.
void PutHtml(OutputPage& page, std::string_view text) {
  char escaped[kShortTextCapacity * kHtmlGrowth];
  PutPageBytes(page, escaped, EscapeHtml(text, escaped));
}

// Writes `text` (at most 255 bytes) percent-encoded for a link.
void PutLink(OutputPage& page, std::string_view text) {
  char escaped[kShortTextCapacity * kLinkGrowth];
  PutPageBytes(page, escaped, EscapeForLink(text, escaped));
}

// The description lines one after the other, each but the last joined with
// a blank into one text of at most 255 bytes: a 255-byte line loses its
// blank. With `html`, each line is written with the HTML escapes (a blank
// needs none).
void WriteDescription(const FileListRecord& record,
                      const DescriptionStore& store, bool html,
                      OutputPage& page) {
  Description description;
  int error = ReadDescription(store, record.DescriptionOffset,
                              record.DescriptionLines, &description);
  if (error != 0) FatalIoError(error);
  for (int i = 0; i < description.Count; ++i) {
    std::string_view text = DescriptionLine(description, i);
    if (html) {
      PutHtml(page, text);
    } else {
      PutPageText(page, text);
    }
    if (i + 1 < description.Count && text.size() < kShortTextCapacity) {
      PutPageText(page, " ");
    }
  }
}

void WriteReplacement(Token token, const FileListRecord& record,
                      const ShortText& link_path, const DescriptionStore& store,
                      OutputPage& page) {
  switch (token) {
    case kLowerName:
      PutPageText(page, View(LowerText(record.Name)));
      break;
    case kUpperName:
      PutPageText(page, View(UpperText(record.Name)));
      break;
    case kSizeK:
      PutPageText(page, View(DecimalText(record.Size / 1024)));
      break;
    case kSizeB:
      PutPageText(page, View(GroupedDecimalText(record.Size)));
      break;
    case kDesc:
      WriteDescription(record, store, false, page);
      break;
    case kPath:
      PutPageText(page, View(link_path));
      break;
    case kHtmlLowerName:
      PutHtml(page, View(LowerText(record.Name)));
      break;
    case kHtmlUpperName:
      PutHtml(page, View(UpperText(record.Name)));
      break;
    case kHtmlDesc:
      WriteDescription(record, store, true, page);
      break;
    case kLinkLowerName:
      PutLink(page, View(LowerText(record.Name)));
      break;
    case kLinkUpperName:
      PutLink(page, View(UpperText(record.Name)));
      break;
    case kTokens:
      break;
  }
}

// Whether `text` is `token` in any letter case.
bool IsToken(std::string_view text, std::string_view token) {
  if (text.size() != token.size()) return false;
  for (size_t k = 0; k < text.size(); ++k) {
    if (UpperChar(text[k]) != token[k]) return false;
  }
  return true;
}

// The token that `candidate` ("@", bytes, "@") is in any letter case, or
// kTokens when it is none.
Token WhichToken(std::string_view candidate) {
  // Most candidates, the text between two tokens among them, have a length
  // that no token has.
  if (candidate.size() < kShortestToken || candidate.size() > kLongestToken) {
    return kTokens;
  }
  for (int t = 0; t < kTokens; ++t) {
    if (IsToken(candidate, kTokenText[t])) return static_cast<Token>(t);
  }
  return kTokens;
}

// Where a token first occurs in a line.
struct TokenPlace {
  size_t Position;
  Token Which;
};

// The first occurrence of each token in `line`, in any letter case, in the
// order they stand in the line; returns how many. A token is "@", letters
// and "@", so each "@" can start only the one that ends at the next "@".
int FindTokens(const ShortText& line, TokenPlace (&places)[kTokens]) {
  bool seen[kTokens] = {};
  int count = 0;
  std::string_view text = View(line);
  size_t at = text.find('@');
  while (at != std::string_view::npos) {
    size_t close = text.find('@', at + 1);
    if (close == std::string_view::npos) break;
    Token which = WhichToken(text.substr(at, close + 1 - at));
    if (which != kTokens && !seen[which]) {
      seen[which] = true;
      places[count++] = {at, which};
    }
    at = close;
  }
  return count;
}

}  // namespace

void ExpandEntryLine(const ShortText& line, const FileListRecord& record,
                     const ShortText& link_path, const DescriptionStore& store,
                     OutputPage& page) {
  TokenPlace places[kTokens];
  int count = FindTokens(line, places);
  size_t i = 0;  // the first byte of the line not yet written
  for (int n = 0; n < count; ++n) {
    // A token that begins inside one already replaced stays as it is.
    if (places[n].Position < i) continue;
    PutPageBytes(page, line.Bytes + i, places[n].Position - i);
    WriteReplacement(places[n].Which, record, link_path, store, page);
    i = places[n].Position + kTokenText[places[n].Which].size();
  }
  PutPageBytes(page, line.Bytes + i, line.Length - i);
  PutPageText(page, "\n");
  EndPageStatement(page);
}
