#include "listing/entry_expansion.h"

#include <string_view>

#include "driver/fatal.h"
#include "text/text_helpers.h"

namespace {

enum Token { kLowerName, kUpperName, kSizeK, kSizeB, kDesc, kPath, kTokens };

constexpr std::string_view kTokenText[kTokens] = {
    "@LNAME@", "@UNAME@", "@SIZEK@", "@SIZEB@", "@DESC@", "@PATH@"};

// The description lines one after the other, each but the last joined with
// a blank into one text of at most 255 bytes: a 255-byte line loses its blank.
void WriteDescription(const FileListRecord& record,
                      const DescriptionStore& store, OutputPage& page) {
  Description description;
  int error = ReadDescription(store, record.DescriptionOffset,
                              record.DescriptionLines, &description);
  if (error != 0) FatalIoError(error);
  for (int i = 0; i < description.Count; ++i) {
    ShortText text = description.Lines[i];
    if (i + 1 < description.Count) AppendText(text, " ");
    PutPageText(page, View(text));
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
      WriteDescription(record, store, page);
      break;
    case kPath:
      PutPageText(page, View(link_path));
      break;
    case kTokens:
      break;
  }
}

}  // namespace

void ExpandEntryLine(const ShortText& line, const FileListRecord& record,
                     const ShortText& link_path, const DescriptionStore& store,
                     OutputPage& page) {
  // Positions are found once, in the upper-cased line, first occurrence only.
  ShortText upper = UpperText(line);
  size_t position[kTokens];
  for (int t = 0; t < kTokens; ++t) {
    position[t] = View(upper).find(kTokenText[t]);
  }
  size_t i = 0;
  while (i < line.Length) {
    // The nearest token at or after i; one that began inside a token already
    // replaced lies before i and is passed over.
    size_t next = line.Length;
    int found = kTokens;
    for (int t = 0; t < kTokens; ++t) {
      if (position[t] >= i && position[t] < next) {
        next = position[t];
        found = t;
      }
    }
    PutPageBytes(page, line.Bytes + i, next - i);
    i = next;
    if (found == kTokens) break;
    WriteReplacement(static_cast<Token>(found), record, link_path, store, page);
    i += kTokenText[found].size();
  }
  PutPageText(page, "\n");
  EndPageStatement(page);
}
