// Reads damaged board files: the same bytes serve as korvel.dat, as a ".dir"
// and as a ".des", each opened by path through the program's own readers, and
// every result is checked against a reading of the bytes by the file format.
//
// Input: byte 0 repeats the body 1 to 4 times, up to 4 KiB, so that files
// of repeated records reach past the readers' buffers (3 records and 256
// bytes in this build); byte 1 asks for up to 8 descriptions, each 5 bytes
// (an offset, little-endian, and a line count); the rest is the body.

#include <cstring>

#include "board/board_files.h"
#include "fuzz/fuzz_support.h"
#include "system/file_io.h"

namespace {

// The file format: korvel.dat is one record of 1824 bytes, its list
// directory a text at 82; a ".dir" holds records of 118 bytes: the name, a
// text of up to 70 bytes, at 0, the size at 71, the flags at 110, the
// description's offset at 111 and its line count at 115. Numbers are
// little-endian; a text is a length byte, and a length past the field's
// capacity keeps the whole field.
int32_t Int32At(std::string_view bytes, size_t at) {
  return int32_t(uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
                 uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24);
}

std::string_view TextAt(std::string_view bytes, size_t at, size_t capacity) {
  return bytes.substr(at + 1, std::min<size_t>(uint8_t(bytes[at]), capacity));
}

// Reads the description at `offset` both ways and compares.
void CheckDescription(const DescriptionStore& store, std::string_view file,
                      int32_t offset, uint8_t lines) {
  std::vector<std::string_view> expected;
  bool readable = ReferenceDescription(file, offset, lines, &expected);
  static Description description;  // 64 KiB: kept from call to call
  int error = ReadDescription(store, offset, lines, &description);
  FUZZ_CHECK(readable ? error == 0 : error == kErrorShortRead);
  FUZZ_CHECK(description.Count >= 0 && description.Count <= lines);
  FUZZ_CHECK(!readable || description.Count == lines);
  for (int i = 0; i < description.Count; ++i) {
    FUZZ_CHECK(size_t(i) < expected.size() &&
               DescriptionLine(description, i) == expected[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t queries = std::min<size_t>(data[1] % 9, (size - 2) / 5);
  const char* query = reinterpret_cast<const char*>(data + 2);
  std::string_view body(query + 5 * queries,
                        std::min<size_t>(size - 2 - 5 * queries, 4096));
  static std::string file;  // kept from input to input, for its memory
  file = body;
  for (int i = data[0] % 4; i > 0 && file.size() + body.size() <= 4096; --i) {
    file += body;
  }
  ShortText path = DescriptorPath(MemoryFile(file));

  int fd = -1;
  FUZZ_CHECK(OpenBoardFile(path, &fd) == 0);
  BoardConfig config;
  int error = ReadBoardConfig(fd, &config);
  CloseFile(fd);
  FUZZ_CHECK(file.size() < 1824 ? error == kErrorShortRead
                                : error == 0 && View(config.ListDirectory) ==
                                                    TextAt(file, 82, 255));

  DescriptionStore store;
  FUZZ_CHECK(OpenDescriptionStore(path, store) == 0);
  FileList list;
  FUZZ_CHECK(OpenFileList(path, list) == 0);
  // A trailing part-record is never read; the first records' own
  // descriptions are read back.
  for (size_t at = 0; at + 118 <= file.size(); at += 118) {
    FileListRecord record;
    FUZZ_CHECK(!AtEndOfFileList(list) && ReadFileListRecord(list, &record) == 0);
    std::string_view raw = std::string_view(file).substr(at);
    FUZZ_CHECK(View(record.Name) == TextAt(raw, 0, 70));
    FUZZ_CHECK(record.Size == Int32At(raw, 71) && record.Flags == uint8_t(raw[110]));
    FUZZ_CHECK(record.DescriptionOffset == Int32At(raw, 111) &&
               record.DescriptionLines == uint8_t(raw[115]));
    if (at < 16 * 118) {
      CheckDescription(store, file, record.DescriptionOffset, record.DescriptionLines);
    }
  }
  FUZZ_CHECK(AtEndOfFileList(list));
  CloseFileList(list);
  for (size_t q = 0; q < queries; ++q, query += 5) {
    // The offset as given (mostly far off or negative), then folded into
    // the file and just around it.
    int32_t offset = Int32At(std::string_view(query, 4), 0);
    CheckDescription(store, file, offset, uint8_t(query[4]));
    offset = int32_t(uint32_t(offset) % (file.size() + 3)) - 1;
    CheckDescription(store, file, offset, uint8_t(query[4]));
  }
  CloseDescriptionStore(store);
  return 0;
}
