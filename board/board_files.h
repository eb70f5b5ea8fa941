#ifndef BOARD_BOARD_FILES_H_
#define BOARD_BOARD_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "board/records.h"
#include "system/file_io.h"
#include "text/short_text.h"

// Readers of the board's files, which are opened with OpenForReading and
// never written. Each call returns 0 or an I/O error number; the caller
// decides whether a failure is reported or ends the run.

// Opens the board file `path` for reading into `*fd` and, when `facts` is
// given, tells what it is. When no file has that name, the one whose last
// part matches it in any letter case is opened (the first in byte order), as
// a board copied from DOS names them; its own failure is then returned.
int OpenBoardFile(const ShortText& path, int* fd, FileFacts* facts = nullptr);

// The facts of the board file that OpenBoardFile would open for `path`.
int GetBoardFileFacts(const ShortText& path, FileFacts* facts);

// Reads the first record of the open korvel.dat; 100 if it is shorter.
int ReadBoardConfig(int fd, BoardConfig* config);

// Records read in one call. The fuzz build sets a few, so that small inputs
// cross chunks.
#ifndef PELLIDOR_FILE_LIST_CHUNK_RECORDS
#define PELLIDOR_FILE_LIST_CHUNK_RECORDS 512
#endif
inline constexpr size_t kFileListChunkRecords =
    PELLIDOR_FILE_LIST_CHUNK_RECORDS;

// A ".dir" file read forward in chunks of whole records. Its length in
// records is fixed at open from the file's size; a trailing part-record is
// never read.
struct FileList {
  int Fd = -1;
  int64_t RecordCount = 0;
  int64_t RecordsRead = 0;
  size_t Next = 0;    // next record in Buffer
  size_t Filled = 0;  // records in Buffer
  uint8_t Buffer[kFileListChunkRecords * kFileListRecordSize];
};

// Opens the ".dir" file at `path` and, when `facts` is given, tells what it
// is; on failure nothing stays open.
int OpenFileList(const ShortText& path, FileList& list,
                 FileFacts* facts = nullptr);

// True when every whole record has been read.
bool AtEndOfFileList(const FileList& list);

// The next record; 100 if the file has shrunk since it was opened.
int ReadFileListRecord(FileList& list, FileListRecord* record);

void CloseFileList(FileList& list);

// A base's ".des" file: text items found only through record offsets.
struct DescriptionStore {
  int Fd = -1;
};

// Opens the ".des" file at `path` and, when `facts` is given, tells what it
// is.
int OpenDescriptionStore(const ShortText& path, DescriptionStore& store,
                         FileFacts* facts = nullptr);

void CloseDescriptionStore(DescriptionStore& store);

// Bytes of a description asked for in one read; small in the fuzz build.
#ifndef PELLIDOR_DESCRIPTION_BLOCK_SIZE
#define PELLIDOR_DESCRIPTION_BLOCK_SIZE 4096
#endif
inline constexpr size_t kDescriptionBlockSize = PELLIDOR_DESCRIPTION_BLOCK_SIZE;

// The lines of one file's description. Bytes holds the items as the store
// keeps them, a length byte and that many bytes each; DescriptionLine finds
// each line there.
struct Description {
  int Count = 0;
  // Where each line's length byte is in Bytes.
  uint16_t Starts[kMostDescriptionLines];
  char Bytes[kMostDescriptionLines * (1 + kDescriptionLineCapacity)];
};

// Line `i` of `description`, for `i` below its Count.
inline std::string_view DescriptionLine(const Description& description, int i) {
  const char* item = description.Bytes + description.Starts[i];
  return std::string_view(item + 1, static_cast<uint8_t>(item[0]));
}

// Reads `lines` length-prefixed items starting `offset` bytes into the store,
// a block at a time, so that a description of a few short lines costs one
// positioned read. 100 when an item lies past the end of the file; a
// negative offset counts as past the end. With 0 lines nothing is read and
// nothing fails.
int ReadDescription(const DescriptionStore& store, int32_t offset,
                    uint8_t lines, Description* description);

#endif  // BOARD_BOARD_FILES_H_
