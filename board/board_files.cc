#include "board/board_files.h"

#include <algorithm>
#include <cstring>

#include "board/file_io.h"

namespace {

// Positioned reads over the store, a block at a time, so that a description
// of a few short lines costs one system call.
struct StoreCursor {
  int Fd = -1;
  int64_t NextOffset = 0;  // file offset of the byte after Bytes[Filled - 1]
  size_t At = 0;
  size_t Filled = 0;
  uint8_t Bytes[4096];
};

// Makes `count` (at most 256) bytes available at cursor.Bytes + cursor.At.
int Want(StoreCursor& cursor, size_t count) {
  if (cursor.Filled - cursor.At >= count) return 0;
  size_t kept = cursor.Filled - cursor.At;
  std::memmove(cursor.Bytes, cursor.Bytes + cursor.At, kept);
  cursor.At = 0;
  cursor.Filled = kept;
  while (cursor.Filled < count) {
    size_t got = 0;
    int error = ReadSomeAt(cursor.Fd, cursor.NextOffset,
                           cursor.Bytes + cursor.Filled,
                           sizeof cursor.Bytes - cursor.Filled, &got);
    if (error != 0) return error;
    if (got == 0) return kErrorShortRead;
    cursor.Filled += got;
    cursor.NextOffset += static_cast<int64_t>(got);
  }
  return 0;
}

}  // namespace

int OpenBoardFile(const ShortText& path, int* fd) {
  return OpenForReading(path, fd);
}

int ReadBoardConfig(int fd, BoardConfig* config) {
  uint8_t raw[kBoardConfigSize];
  if (int error = ReadExactly(fd, raw, sizeof raw); error != 0) return error;
  *config = DecodeBoardConfig(raw);
  return 0;
}

int OpenFileList(const ShortText& path, FileList& list) {
  list.Fd = -1;
  list.RecordsRead = 0;
  list.Next = list.Filled = 0;
  int fd = -1;
  if (int error = OpenBoardFile(path, &fd); error != 0) return error;
  int64_t size = 0;
  bool regular = false;
  if (int error = FileSize(fd, &size, &regular); error != 0) {
    CloseFile(fd);
    return error;
  }
  list.Fd = fd;
  list.RecordCount = size / static_cast<int64_t>(kFileListRecordSize);
  return 0;
}

bool AtEndOfFileList(const FileList& list) {
  return list.RecordsRead >= list.RecordCount;
}

int ReadFileListRecord(FileList& list, FileListRecord* record) {
  if (list.Next == list.Filled) {
    int64_t left = list.RecordCount - list.RecordsRead;
    size_t count = static_cast<size_t>(
        std::min<int64_t>(left, static_cast<int64_t>(kFileListChunkRecords)));
    int error = ReadExactly(list.Fd, list.Buffer, count * kFileListRecordSize);
    if (error != 0) return error;
    list.Next = 0;
    list.Filled = count;
  }
  *record = DecodeFileListRecord(&list.Buffer[list.Next * kFileListRecordSize]);
  ++list.Next;
  ++list.RecordsRead;
  return 0;
}

void CloseFileList(FileList& list) {
  CloseFile(list.Fd);
  list.Fd = -1;
}

int OpenDescriptionStore(const ShortText& path, DescriptionStore& store) {
  return OpenBoardFile(path, &store.Fd);
}

void CloseDescriptionStore(DescriptionStore& store) {
  CloseFile(store.Fd);
  store.Fd = -1;
}

int ReadDescription(const DescriptionStore& store, int32_t offset,
                    uint8_t lines, Description* description) {
  description->Count = 0;
  if (lines == 0) return 0;
  if (offset < 0) return kErrorShortRead;
  StoreCursor cursor;
  cursor.Fd = store.Fd;
  cursor.NextOffset = offset;
  for (int i = 0; i < lines; ++i) {
    if (int error = Want(cursor, 1); error != 0) return error;
    size_t length = cursor.Bytes[cursor.At++];
    if (int error = Want(cursor, length); error != 0) return error;
    ShortText& line = description->Lines[i];
    line.Length = 0;
    AppendBytes(line, cursor.Bytes + cursor.At, length);
    cursor.At += length;
    description->Count = i + 1;
  }
  return 0;
}
