#include "board/records.h"

#include <algorithm>

ShortText LoadShortText(const uint8_t* p, size_t capacity) {
  ShortText text;
  AppendBytes(text, p + 1, std::min<size_t>(p[0], capacity));
  return text;
}

BoardConfig DecodeBoardConfig(const uint8_t (&raw)[kBoardConfigSize]) {
  BoardConfig config;
  config.ListDirectory =
      LoadShortText(&raw[kListDirectoryOffset], kListDirectoryCapacity);
  return config;
}

void DecodeFileListRecord(const uint8_t* raw, FileListRecord* record) {
  record->Name.Length = 0;
  AppendBytes(record->Name, &raw[1], std::min<size_t>(raw[0], kNameCapacity));
  record->Size = LoadInt32(&raw[kSizeOffset]);
  record->Flags = raw[kFlagsOffset];
  record->DescriptionOffset = LoadInt32(&raw[kDescriptionOffsetOffset]);
  record->DescriptionLines = raw[kDescriptionLinesOffset];
}
