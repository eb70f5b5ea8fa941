#include "listing/entry_expansion.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "system/fatal.h"
#include "text/escaping.h"
#include "text/rendering.h"
#include "text/text_helpers.h"

namespace {

// The tokens: the six that copy the record's data as it is, the five that
// escape the uploaders' text for HTML ("@H...@") or for a link ("@U...@"),
// then those that give the name as stored, raw, for HTML or for a link, the
// name and description rendered as the board's terminals show them, for
// HTML ("@T...@") or for a JSON string ("@J...@"), and the size in bytes.
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
  kName,
  kHtmlName,
  kLinkName,
  kTextName,
  kTextDesc,
  kJsonName,
  kJsonDesc,
  kBytes,
  kTokens
};

constexpr std::string_view kTokenText[kTokens] = {
    "@LNAME@",  "@UNAME@",  "@SIZEK@", "@SIZEB@",  "@DESC@",  "@PATH@",
    "@HLNAME@", "@HUNAME@", "@HDESC@", "@ULNAME@", "@UUNAME@", "@NAME@",
    "@HNAME@",  "@URLNAME@", "@TNAME@", "@TDESC@", "@JNAME@",  "@JDESC@",
    "@BYTES@"};

// The lengths of the shortest and the longest token.
constexpr size_t kShortestToken =
    std::ranges::min(kTokenText, {}, &std::string_view::size).size();
constexpr size_t kLongestToken =
    std::ranges::max(kTokenText, {}, &std::string_view::size).size();

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

// Reads the whole description before any of it is written: one that runs
// past the end of the file ends the run and adds nothing to the page.
void ReadWholeDescription(const FileListRecord& record,
                          const DescriptionStore& store,
                          Description& description) {
  int error = ReadDescription(store, record.DescriptionOffset,
                              record.DescriptionLines, &description);
  if (error != 0) FatalIoError(error);
}

// The description lines one after the other, each but the last joined with
// a blank into one text of at most 255 bytes: a 255-byte line loses its
// blank. With `html`, each line is written with the HTML escapes (a blank
// needs none).
void WriteDescription(const FileListRecord& record,
                      const DescriptionStore& store, bool html,
                      OutputPage& page) {
  Description description;
  ReadWholeDescription(record, store, description);
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

// The one screen that every rendered token plays its text on, fresh each
// time: a plain record of fixed size, never allocated.
Screen& SharedScreen() {
  static Screen screen;
  return screen;
}

// Writes the rows of `screen`, joined by "<br>" for HTML and by the two
// bytes \n inside a JSON string.
void PutScreen(OutputPage& page, Screen& screen, RenderMode mode) {
  int rows = FinishScreen(screen);
  char rendered[kRenderedRowCapacity];
  for (int row = 0; row < rows; ++row) {
    if (row > 0) PutPageText(page, mode == RENDER_JSON ? "\\n" : "<br>");
    PutPageBytes(page, rendered, RenderRow(screen, row, mode, rendered));
  }
}

// Writes `text`, sent to the screen as one line.
void PutRendered(OutputPage& page, std::string_view text, CodePage code_page,
                 RenderMode mode) {
  Screen& screen = SharedScreen();
  StartScreen(screen);
  SendLine(screen, text, code_page);
  PutScreen(page, screen, mode);
}

// The description lines sent to the screen one after the other, each with
// a line end after it; the colours and the cursor carry from line to line.
void WriteRenderedDescription(const FileListRecord& record,
                              const DescriptionStore& store,
                              CodePage code_page, RenderMode mode,
                              OutputPage& page) {
  Description description;
  ReadWholeDescription(record, store, description);
  Screen& screen = SharedScreen();
  StartScreen(screen);
  for (int i = 0; i < description.Count; ++i) {
    SendLine(screen, DescriptionLine(description, i), code_page);
    SendLineEnd(screen);
  }
  PutScreen(page, screen, mode);
}

void WriteReplacement(Token token, const FileListRecord& record,
                      const ShortText& link_path, const DescriptionStore& store,
                      CodePage code_page, OutputPage& page) {
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
    case kName:
      PutPageText(page, View(record.Name));
      break;
    case kHtmlName:
      PutHtml(page, View(record.Name));
      break;
    case kLinkName:
      PutLink(page, View(record.Name));
      break;
    case kTextName:
      PutRendered(page, View(record.Name), code_page, RENDER_HTML);
      break;
    case kTextDesc:
      WriteRenderedDescription(record, store, code_page, RENDER_HTML_COLOURS,
                               page);
      break;
    case kJsonName:
      PutRendered(page, View(record.Name), code_page, RENDER_JSON);
      break;
    case kJsonDesc:
      WriteRenderedDescription(record, store, code_page, RENDER_JSON, page);
      break;
    case kBytes:
      PutPageText(page, View(UnsignedDecimalText(
                            static_cast<uint32_t>(record.Size))));
      break;
    case kTokens:
      break;
  }
}

// The bytes of `text` (at most nine) between its first and its last,
// upper-cased, packed into one number with their count: two texts pack
// alike when they are the same token in any letter case.
constexpr uint64_t PackedToken(std::string_view text) {
  uint64_t packed = text.size();
  for (size_t k = 1; k + 1 < text.size(); ++k) {
    char c = text[k];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    packed = packed << 8 | static_cast<uint8_t>(c);
  }
  return packed;
}

struct PackedTokens {
  uint64_t Of[kTokens];
};

constexpr PackedTokens MakePackedTokens() {
  static_assert(kLongestToken <= 9, "a token must pack into 64 bits");
  PackedTokens packed{};
  for (int t = 0; t < kTokens; ++t) packed.Of[t] = PackedToken(kTokenText[t]);
  return packed;
}

constexpr PackedTokens kPackedTokens = MakePackedTokens();

// The token that `candidate` ("@", bytes, "@") is in any letter case, or
// kTokens when it is none.
Token WhichToken(std::string_view candidate) {
  // Most candidates, the text between two tokens among them, have a length
  // that no token has.
  if (candidate.size() < kShortestToken || candidate.size() > kLongestToken) {
    return kTokens;
  }
  uint64_t packed = PackedToken(candidate);
  for (int t = 0; t < kTokens; ++t) {
    if (packed == kPackedTokens.Of[t]) return static_cast<Token>(t);
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
                     CodePage code_page, OutputPage& page) {
  TokenPlace places[kTokens];
  int count = FindTokens(line, places);
  size_t i = 0;  // the first byte of the line not yet written
  for (int n = 0; n < count; ++n) {
    // A token that begins inside one already replaced stays as it is.
    if (places[n].Position < i) continue;
    PutPageBytes(page, line.Bytes + i, places[n].Position - i);
    WriteReplacement(places[n].Which, record, link_path, store, code_page,
                     page);
    i = places[n].Position + kTokenText[places[n].Which].size();
  }
  PutPageBytes(page, line.Bytes + i, line.Length - i);
  PutPageText(page, "\n");
  EndPageStatement(page);
}
