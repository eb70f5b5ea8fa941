#include "tools/board_builder.h"

#include <algorithm>

#include "board/records.h"

namespace {

void StoreInt32(std::string& bytes, size_t offset, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  for (size_t i = 0; i < sizeof v; ++i) {
    bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}

// A length byte and up to `capacity` bytes of `text` at `offset`.
void StoreText(std::string& bytes, size_t offset, std::string_view text,
               size_t capacity, int length) {
  size_t kept = std::min(text.size(), capacity);
  bytes[offset] = static_cast<char>(length >= 0 ? length : int(kept));
  bytes.replace(offset + 1, kept, text.substr(0, kept));
}

}  // namespace

std::string BoardConfigBytes(std::string_view list_directory) {
  std::string bytes(kBoardConfigSize, '\0');
  StoreText(bytes, kListDirectoryOffset, list_directory, kListDirectoryCapacity,
            -1);
  return bytes;
}

std::string FileListRecordBytes(std::string_view name, int32_t size,
                                uint8_t flags, int32_t description_offset,
                                uint8_t description_lines, int name_length) {
  std::string bytes(kFileListRecordSize, '\0');
  StoreText(bytes, 0, name, kNameCapacity, name_length);
  StoreInt32(bytes, kSizeOffset, size);
  bytes[kFlagsOffset] = static_cast<char>(flags);
  StoreInt32(bytes, kDescriptionOffsetOffset, description_offset);
  bytes[kDescriptionLinesOffset] = static_cast<char>(description_lines);
  return bytes;
}

BaseBytes BuildBase(const std::vector<BoardFile>& files) {
  BaseBytes base;
  for (const BoardFile& file : files) {
    auto offset = static_cast<int32_t>(base.Des.size());
    size_t lines = std::min(file.Description.size(), kMostDescriptionLines);
    for (size_t i = 0; i < lines; ++i) {
      std::string_view line = file.Description[i];
      line = line.substr(0, kDescriptionLineCapacity);
      base.Des += static_cast<char>(line.size());
      base.Des += line;
    }
    base.Dir += FileListRecordBytes(file.Name, file.Size, file.Flags, offset,
                                    static_cast<uint8_t>(lines));
  }
  return base;
}
