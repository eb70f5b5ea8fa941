#include "listing/entry_expansion.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>

#include "system/fatal.h"
#include "text/escaping.h"
#include "text/rendering.h"
#include "text/text_helpers.h"

namespace {

// Where a token's text comes from.
enum Source {
  kName,  // the name as stored
  kLowerName,
  kUpperName,
  kSizeK,        // the size in KiB, rounded down
  kSizeB,        // the size in bytes, its digits grouped by threes
  kBytes,        // the size in bytes as an unsigned number
  kPath,         // the link path of the list
  kDescription,  // the description lines
};

// How a token's text is written.
enum Form {
  kRaw,                // as it is
  kHtml,               // with the HTML escapes
  kLink,               // percent-encoded for a link
  kScreenHtml,         // rendered as the terminal drew it, colours left out
  kScreenHtmlColours,  // rendered, with a <span> for each coloured stretch
  kScreenJson,         // rendered for the inside of a JSON string
};

struct TokenRow {
  std::string_view Text;  // upper case; matched in any letter case
  Source From;
  Form As;
};

// Every token. A new one is a row here and a line in tests/cases/tokens.case.
constexpr TokenRow kTokenTable[] = {
    {"@NAME@", kName, kRaw},
    {"@LNAME@", kLowerName, kRaw},
    {"@UNAME@", kUpperName, kRaw},
    {"@SIZEK@", kSizeK, kRaw},
    {"@SIZEB@", kSizeB, kRaw},
    {"@BYTES@", kBytes, kRaw},
    {"@PATH@", kPath, kRaw},
    {"@DESC@", kDescription, kRaw},
    {"@HNAME@", kName, kHtml},
    {"@HLNAME@", kLowerName, kHtml},
    {"@HUNAME@", kUpperName, kHtml},
    {"@HDESC@", kDescription, kHtml},
    {"@URLNAME@", kName, kLink},
    {"@ULNAME@", kLowerName, kLink},
    {"@UUNAME@", kUpperName, kLink},
    {"@TNAME@", kName, kScreenHtml},
    {"@TDESC@", kDescription, kScreenHtmlColours},
    {"@JNAME@", kName, kScreenJson},
    {"@JDESC@", kDescription, kScreenJson},
};

constexpr int kTokenCount = std::size(kTokenTable);
constexpr int kNoToken = -1;
static_assert(kTokenCount <= kMostLineTokens);

RenderMode ScreenMode(Form as) {
  if (as == kScreenJson) return RENDER_JSON;
  return as == kScreenHtmlColours ? RENDER_HTML_COLOURS : RENDER_HTML;
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

// Writes `text` (at most 255 bytes) with the HTML escapes.
void PutHtml(std::string_view text, OutputPage& page) {
  char escaped[kShortTextCapacity * kHtmlGrowth];
  PutPageBytes(page, escaped, EscapeHtml(text, escaped));
}

// Writes `text` (at most 255 bytes) percent-encoded for a link.
void PutLink(std::string_view text, OutputPage& page) {
  char escaped[kShortTextCapacity * kLinkGrowth];
  PutPageBytes(page, escaped, EscapeForLink(text, escaped));
}

// Writes `text`, sent to the screen as one line.
void PutRendered(std::string_view text, RenderMode mode, const Entry& entry) {
  Screen& screen = SharedScreen();
  StartScreen(screen);
  SendLine(screen, text, entry.BoardCodePage);
  PutScreen(entry.Page, screen, mode);
}

// Writes `text` (at most 255 bytes) in the form `as`.
void PutFormed(std::string_view text, Form as, const Entry& entry) {
  switch (as) {
    case kRaw:
      return PutPageText(entry.Page, text);
    case kHtml:
      return PutHtml(text, entry.Page);
    case kLink:
      return PutLink(text, entry.Page);
    case kScreenHtml:
    case kScreenHtmlColours:
    case kScreenJson:
      return PutRendered(text, ScreenMode(as), entry);
  }
}

// Writes `text` (at most 255 bytes) in the form `as`. Most text goes on the
// page as it is, without a call.
inline void PutText(std::string_view text, Form as, const Entry& entry) {
  if (as == kRaw) {
    PutPageText(entry.Page, text);
  } else {
    PutFormed(text, as, entry);
  }
}

// Reads the whole description before any of it is written: one that runs
// past the end of the file ends the run and adds nothing to the page.
void ReadWholeDescription(const Entry& entry, Description& description) {
  int error = ReadDescription(entry.Store, entry.Record.DescriptionOffset,
                              entry.Record.DescriptionLines, &description);
  if (error != 0) FatalIoError(error);
}

// Rendered, the description lines are sent to the screen one after the
// other, each with a line end after it, the colours and the cursor carrying
// from line to line. Otherwise each line is written in the form `as`, each
// but the last joined to the next with a blank into one text of at most 255
// bytes: a 255-byte line loses its blank.
[[gnu::always_inline]] inline void PutDescription(Form as, const Entry& entry) {
  Description description;
  ReadWholeDescription(entry, description);
  if (as == kScreenHtml || as == kScreenHtmlColours || as == kScreenJson) {
    Screen& screen = SharedScreen();
    StartScreen(screen);
    for (int i = 0; i < description.Count; ++i) {
      SendLine(screen, DescriptionLine(description, i), entry.BoardCodePage);
      SendLineEnd(screen);
    }
    PutScreen(entry.Page, screen, ScreenMode(as));
    return;
  }
  for (int i = 0; i < description.Count; ++i) {
    std::string_view text = DescriptionLine(description, i);
    PutText(text, as, entry);
    if (i + 1 < description.Count && text.size() < kShortTextCapacity) {
      PutPageText(entry.Page, " ");
    }
  }
}

// Writes the text of `row` for `entry`. Inlined, with PutDescription, so
// that the reads and writes of an entry return through two frames fewer (see
// system/file_io.h).
[[gnu::always_inline]] inline void PutToken(const TokenRow& row,
                                            const Entry& entry) {
  const FileListRecord& record = entry.Record;
  switch (row.From) {
    case kName:
      return PutText(View(record.Name), row.As, entry);
    case kLowerName:
      return PutText(View(LowerText(record.Name)), row.As, entry);
    case kUpperName:
      return PutText(View(UpperText(record.Name)), row.As, entry);
    case kSizeK:
      return PutText(View(DecimalText(record.Size / 1024)), row.As, entry);
    case kSizeB:
      return PutText(View(GroupedDecimalText(record.Size)), row.As, entry);
    case kBytes:
      return PutText(
          View(UnsignedDecimalText(static_cast<uint32_t>(record.Size))), row.As,
          entry);
    case kPath:
      return PutText(View(entry.LinkPath), row.As, entry);
    case kDescription:
      return PutDescription(row.As, entry);
  }
}

// Whether `text` is `token` (upper case) in any letter case.
bool IsToken(std::string_view text, std::string_view token) {
  if (text.size() != token.size()) return false;
  for (size_t k = 0; k < text.size(); ++k) {
    if (UpperChar(text[k]) != token[k]) return false;
  }
  return true;
}

// The row of the token that `candidate` ("@", bytes, "@") is, or kNoToken.
int TokenRowOf(std::string_view candidate) {
  for (int r = 0; r < kTokenCount; ++r) {
    if (IsToken(candidate, kTokenTable[r].Text)) return r;
  }
  return kNoToken;
}

// Finds the tokens to replace in `line`. A token is "@", letters and "@", so
// each "@" can start only the one that ends at the next "@". Only the first
// occurrence of each token counts, even one that starts inside a token
// found before it and so stays as it is.
void FindTokens(const ShortText& line, LineTokens& tokens) {
  tokens.Line = line;
  tokens.Count = 0;
  bool seen[kTokenCount] = {};
  std::string_view text = View(line);
  size_t free = 0;  // the first byte after the last token to replace
  size_t at = text.find('@');
  while (at != std::string_view::npos) {
    size_t close = text.find('@', at + 1);
    if (close == std::string_view::npos) break;
    int r = TokenRowOf(text.substr(at, close + 1 - at));
    if (r != kNoToken && !seen[r]) {
      seen[r] = true;
      if (at >= free) {
        tokens.Places[tokens.Count++] = {static_cast<uint8_t>(at),
                                         static_cast<uint8_t>(r)};
        free = close + 1;
      }
    }
    at = close;
  }
}

}  // namespace

void ExpandEntryLine(const ShortText& line, LineTokens& tokens,
                     const Entry& entry) {
  if (tokens.Line.Length != line.Length ||
      std::memcmp(tokens.Line.Bytes, line.Bytes, line.Length) != 0) {
    FindTokens(line, tokens);
  }
  ExpandKeptLines(&tokens, 1, entry);
}

void ExpandKeptLines(const LineTokens* lines, int count, const Entry& entry) {
  for (const LineTokens& tokens : std::span(lines, count)) {
    const ShortText& line = tokens.Line;
    size_t written = 0;  // the first byte of the line not yet written
    for (int n = 0; n < tokens.Count; ++n) {
      const TokenPlace& place = tokens.Places[n];
      const TokenRow& row = kTokenTable[place.Row];
      PutPageBytes(entry.Page, line.Bytes + written, place.Position - written);
      PutToken(row, entry);
      written = place.Position + row.Text.size();
    }
    PutPageBytes(entry.Page, line.Bytes + written, line.Length - written);
    PutPageText(entry.Page, "\n");
    EndPageStatement(entry.Page);
  }
}
