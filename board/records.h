#ifndef BOARD_RECORDS_H_
#define BOARD_RECORDS_H_

#include <cstddef>
#include <cstdint>

#include "text/short_text.h"

// The board's records, decoded field by field from their little-endian bytes.

inline constexpr size_t kBoardConfigSize = 1824;
inline constexpr size_t kListDirectoryOffset = 82;
inline constexpr size_t kListDirectoryCapacity = 255;

inline constexpr size_t kFileListRecordSize = 118;
inline constexpr size_t kNameCapacity = 70;
inline constexpr size_t kSizeOffset = 71;
inline constexpr size_t kFlagsOffset = 110;
inline constexpr size_t kDescriptionOffsetOffset = 111;
inline constexpr size_t kDescriptionLinesOffset = 115;

// A description in a ".des" file: as many items as DescriptionLines, a byte,
// can count, each a length byte and as many bytes as it can count.
inline constexpr size_t kMostDescriptionLines = 255;
inline constexpr size_t kDescriptionLineCapacity = 255;

// Flags bit: the record is left out of every list.
inline constexpr uint8_t FLAG_EXCLUDED = 4;

// The part of korvel.dat that the program reads.
struct BoardConfig {
  // Directory of every base's ".dir" and ".des" files, used as a plain prefix.
  ShortText ListDirectory;
};

// One file of a base's ".dir" file.
struct FileListRecord {
  ShortText Name;
  int32_t Size = 0;
  uint8_t Flags = 0;
  int32_t DescriptionOffset = 0;
  uint8_t DescriptionLines = 0;
};

// The signed 32-bit little-endian integer at `p`.
inline int32_t LoadInt32(const uint8_t* p) {
  // Widen before shifting (an int << 24 can overflow); C++20 casts exactly.
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
               uint32_t{p[3]} << 24;
  return static_cast<int32_t>(v);
}

// The text of a length-prefixed field of `capacity` bytes at `p`; a length
// byte above the capacity keeps the whole field and nothing past it.
ShortText LoadShortText(const uint8_t* p, size_t capacity);

BoardConfig DecodeBoardConfig(const uint8_t (&raw)[kBoardConfigSize]);

// Decodes the record at `raw` into `*record` in its place: copying a whole
// record costs more than decoding one.
void DecodeFileListRecord(const uint8_t* raw, FileListRecord* record);

#endif  // BOARD_RECORDS_H_
