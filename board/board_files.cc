#include "board/board_files.h"

#include <algorithm>

#include "system/file_io.h"

int OpenBoardFile(const ShortText& path, int* fd, FileFacts* facts) {
  int error = OpenForReading(path, fd, facts);
  ShortText found;
  if (error == kErrorNoSuchFile && FindInAnyCase(path, &found)) {
    error = OpenForReading(found, fd, facts);
  }
  return error;
}

int GetBoardFileFacts(const ShortText& path, FileFacts* facts) {
  int error = GetPathFacts(path, facts);
  ShortText found;
  if (error == kErrorNoSuchFile && FindInAnyCase(path, &found)) {
    error = GetPathFacts(found, facts);
  }
  return error;
}

int ReadBoardConfig(int fd, BoardConfig* config) {
  uint8_t raw[kBoardConfigSize];
  if (int error = ReadExactly(fd, raw, sizeof raw); error != 0) return error;
  *config = DecodeBoardConfig(raw);
  return 0;
}

int OpenFileList(const ShortText& path, FileList& list, FileFacts* facts) {
  list.RecordsRead = 0;
  list.Next = list.Filled = 0;
  FileFacts found;
  if (int error = OpenBoardFile(path, &list.Fd, &found); error != 0) {
    return error;
  }
  if (facts != nullptr) *facts = found;
  list.RecordCount = found.Size / static_cast<int64_t>(kFileListRecordSize);
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
  DecodeFileListRecord(&list.Buffer[list.Next * kFileListRecordSize], record);
  ++list.Next;
  ++list.RecordsRead;
  return 0;
}

void CloseFileList(FileList& list) {
  CloseFile(list.Fd);
  list.Fd = -1;
}

int OpenDescriptionStore(const ShortText& path, DescriptionStore& store,
                         FileFacts* facts) {
  return OpenBoardFile(path, &store.Fd, facts);
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
  size_t filled = 0;
  size_t at = 0;  // the next item's length byte
  while (description->Count < lines) {
    // The item is its length byte, then as many bytes as that tells.
    size_t wanted = at + 1;
    if (filled > at) wanted += static_cast<uint8_t>(description->Bytes[at]);
    if (filled >= wanted) {
      description->Starts[description->Count++] = static_cast<uint16_t>(at);
      at = wanted;
      continue;
    }
    size_t count =
        std::min(kDescriptionBlockSize, sizeof description->Bytes - filled);
    size_t got = 0;
    int error = ReadSomeAt(store.Fd, offset + static_cast<int64_t>(filled),
                           description->Bytes + filled, count, &got);
    if (error != 0) return error;
    if (got == 0) return kErrorShortRead;
    filled += got;
  }
  return 0;
}
