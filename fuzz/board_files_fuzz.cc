// Reads damaged board files: the same bytes serve as korvel.dat, as a ".dir"
// and as a ".des", each opened by path through the program's own readers, and
// every result is checked against a reading of the bytes by the file format.
//
// Input: byte 0 repeats the body 1 to 4 times, up to 4 KiB, so that files
// of repeated records reach past the readers' buffers (3 records and 256
// bytes in this build); byte 1 asks for up to 8 descriptions, each 5 bytes
// (an offset, little-endian, and a line count); the rest is the body.

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_files.h"
#include "board/records.h"
#include "fuzz/fuzz_support.h"
#include "system/file_io.h"

namespace {

static_assert(std::endian::native == std::endian::little);

// Records whose own descriptions are read back; the rest are only decoded.
constexpr size_t kRecordsWithDescriptions = 16;

// Room for korvel.dat's record and for a dozen chunks of the file list.
constexpr size_t kMaxFileSize = 4096;

int32_t Int32At(std::string_view bytes, size_t offset) {
  int32_t value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// A length-prefixed text field: a length above the capacity keeps the whole
// field.
std::string_view TextAt(std::string_view bytes, size_t offset,
                        size_t capacity) {
  size_t length =
      std::min<size_t>(static_cast<uint8_t>(bytes[offset]), capacity);
  return bytes.substr(offset + 1, length);
}

void CheckBoardConfig(const ShortText& path, std::string_view file) {
  int fd = -1;
  FUZZ_CHECK(OpenForReading(path, &fd) == 0);
  BoardConfig config;
  int error = ReadBoardConfig(fd, &config);
  CloseFile(fd);
  if (file.size() < kBoardConfigSize) {
    FUZZ_CHECK(error == kErrorShortRead);
    return;
  }
  FUZZ_CHECK(error == 0);
  FUZZ_CHECK(View(config.ListDirectory) ==
             TextAt(file, kListDirectoryOffset, 255));
}

// Reads the description at `offset` both ways and compares.
void CheckDescription(const DescriptionStore& store, std::string_view file,
                      int32_t offset, uint8_t lines) {
  std::vector<std::string_view> expected;
  bool readable = ReferenceDescription(file, offset, lines, &expected);
  // Kept from one call to the next: a description is 64 KiB.
  static Description description;
  int error = ReadDescription(store, offset, lines, &description);
  FUZZ_CHECK(readable ? error == 0 : error == kErrorShortRead);
  FUZZ_CHECK(description.Count >= 0 && description.Count <= lines);
  if (readable) FUZZ_CHECK(description.Count == lines);
  for (int i = 0; i < description.Count; ++i) {
    FUZZ_CHECK(static_cast<size_t>(i) < expected.size());
    FUZZ_CHECK(DescriptionLine(description, i) == expected[i]);
  }
}

void CheckFileList(const ShortText& path, std::string_view file,
                   const DescriptionStore& store) {
  FileList list;
  FUZZ_CHECK(OpenFileList(path, list) == 0);
  // A trailing part-record is never read.
  size_t count = file.size() / kFileListRecordSize;
  for (size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(!AtEndOfFileList(list));
    FileListRecord record;
    FUZZ_CHECK(ReadFileListRecord(list, &record) == 0);
    std::string_view raw = file.substr(i * kFileListRecordSize);
    FUZZ_CHECK(View(record.Name) == TextAt(raw, 0, kNameCapacity));
    FUZZ_CHECK(record.Size == Int32At(raw, kSizeOffset));
    FUZZ_CHECK(record.Flags == static_cast<uint8_t>(raw[kFlagsOffset]));
    FUZZ_CHECK(record.DescriptionOffset ==
               Int32At(raw, kDescriptionOffsetOffset));
    FUZZ_CHECK(record.DescriptionLines ==
               static_cast<uint8_t>(raw[kDescriptionLinesOffset]));
    if (i < kRecordsWithDescriptions) {
      CheckDescription(store, file, record.DescriptionOffset,
                       record.DescriptionLines);
    }
  }
  FUZZ_CHECK(AtEndOfFileList(list));
  CloseFileList(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int repeats = 1 + data[0] % 4;
  size_t queries = std::min<size_t>(data[1] % 9, (size - 2) / 5);
  const uint8_t* query = data + 2;
  std::string_view body(reinterpret_cast<const char*>(query + 5 * queries),
                        std::min(size - 2 - 5 * queries, kMaxFileSize));
  // Kept from one input to the next, so that its memory is not new each time.
  static std::string file;
  file = body;
  for (int i = 1; i < repeats && file.size() + body.size() <= kMaxFileSize;
       ++i) {
    file += body;
  }

  int fd = MemoryFile(file);
  ShortText path = DescriptorPath(fd);
  CheckBoardConfig(path, file);

  DescriptionStore store;
  FUZZ_CHECK(OpenDescriptionStore(path, store) == 0);
  CheckFileList(path, file, store);
  for (size_t q = 0; q < queries; ++q, query += 5) {
    std::string_view raw(reinterpret_cast<const char*>(query), 5);
    int32_t offset = Int32At(raw, 0);
    auto lines = static_cast<uint8_t>(raw[4]);
    // The offset as given (mostly far off or negative), then folded into
    // the file and just around it.
    CheckDescription(store, file, offset, lines);
    auto folded = static_cast<int32_t>(static_cast<uint32_t>(offset) %
                                       (file.size() + 3)) -
                  1;
    CheckDescription(store, file, folded, lines);
  }
  CloseDescriptionStore(store);
  return 0;
}
