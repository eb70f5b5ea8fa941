#include "listing/template_lines.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "system/file_io.h"

namespace {

// The page template's copy, when CopyTemplate made one: filled at start-up,
// then only read. One byte more than it may hold tells a longer template.
char template_copy[kMostTemplateCopy + 1];

void Reset(TemplateReader& reader, int fd, const FileFacts& facts,
           StandardInput* input) {
  reader.Fd = fd;
  reader.Input = fd == kStandardInput ? input : nullptr;
  reader.Regular = facts.Regular;
  reader.Size = facts.Size;
  reader.BytesRead = 0;
  reader.AtEnd = false;
  reader.At = reader.Filled = 0;
  reader.Copy = nullptr;
}

// Bytes looked at for a line end in one step. Searching no further keeps a
// file whose lines end in CR alone from being searched for an LF to the end
// of the buffer for every line.
constexpr size_t kLineEndReach = 1024;

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// The position of the first LF or CR at or after `from` within reach, or the
// end of that reach.
size_t LineEnd(const TemplateReader& reader, size_t from) {
  std::string_view rest(reader.Buffer + from,
                        std::min(reader.Filled - from, kLineEndReach));
  // An LF ends most lines; a CR can only end one before that LF.
  size_t end = std::min(rest.find('\n'), rest.size());
  end = std::min(rest.substr(0, end).find('\r'), end);
  return from + end;
}

// Refills the empty buffer; leaves it empty at the end of the file. Inlined,
// so that the read of an entry template returns through one frame fewer
// (see system/file_io.h).
[[gnu::always_inline]] inline int Refill(TemplateReader& reader) {
  reader.At = reader.Filled = 0;
  if (reader.Input != nullptr && reader.Input->Ended) reader.AtEnd = true;
  if (reader.AtEnd) return 0;
  if (reader.Copy != nullptr) {
    size_t got = std::min(reader.CopySize - reader.CopyAt, sizeof reader.Buffer);
    std::memcpy(reader.Buffer, reader.Copy + reader.CopyAt, got);
    reader.CopyAt += got;
    reader.Filled = got;
    reader.AtEnd = got == 0;
    return 0;
  }
  size_t got = 0;
  int error = ReadSome(reader.Fd, reader.Buffer, sizeof reader.Buffer, &got);
  if (error != 0) return error;
  reader.Filled = got;
  reader.BytesRead += static_cast<int64_t>(got);
  // A regular file that gave less than asked once its whole size has come
  // has nothing more: spare the read that would only say so. A short read
  // before that (a network file system, a signal) is no end, and a file
  // whose size the system does not tell (those under /proc) or one that is
  // not regular is read until a read gives nothing.
  bool whole =
      reader.Regular && reader.Size > 0 && reader.BytesRead >= reader.Size;
  if (got == 0 || (whole && got < sizeof reader.Buffer)) reader.AtEnd = true;
  if (reader.AtEnd && reader.Input != nullptr) reader.Input->Ended = true;
  return 0;
}

}  // namespace

int OpenTemplate(const ShortText& path, TemplateReader& reader,
                 FileFacts* facts, StandardInput* input) {
  int fd = kStandardInput;
  FileFacts found;
  int error = path.Length > 0 ? OpenForReading(path, &fd, &found)
                              : GetFileFacts(fd, &found);
  if (error != 0) return error;
  Reset(reader, fd, found, input);
  if (facts != nullptr) *facts = found;
  return 0;
}

int ReopenTemplate(const ShortText& path, const FileFacts& facts,
                   TemplateReader& reader, StandardInput* input) {
  if (path.Length == 0) {
    Reset(reader, kStandardInput, facts, input);
    return 0;
  }
  int fd = -1;
  if (int error = OpenPath(path, &fd); error != 0) return error;
  Reset(reader, fd, facts, nullptr);
  return 0;
}

int CopyTemplate(TemplateReader& reader, bool* too_long) {
  size_t filled = 0;
  size_t got = 1;
  while (got > 0 && filled < sizeof template_copy) {
    int error = ReadSome(reader.Fd, template_copy + filled,
                         sizeof template_copy - filled, &got);
    if (error != 0) return error;
    filled += got;
  }
  *too_long = filled > kMostTemplateCopy;
  if (reader.Input != nullptr) reader.Input->Ended = true;
  reader.Input = nullptr;
  reader.Copy = template_copy;
  reader.CopySize = filled;
  reader.CopyAt = 0;
  reader.AtEnd = false;
  reader.At = reader.Filled = 0;
  return 0;
}

bool CanRestartTemplate(const TemplateReader& reader) {
  return reader.Regular || reader.Copy != nullptr;
}

int TemplateOffset(const TemplateReader& reader, int64_t* offset) {
  if (reader.Copy != nullptr) {
    *offset = static_cast<int64_t>(reader.CopyAt);
    return 0;
  }
  return GetOffset(reader.Fd, offset);
}

int RestartTemplate(TemplateReader& reader, int64_t offset) {
  if (reader.Copy != nullptr) {
    reader.CopyAt = static_cast<size_t>(offset);
  } else if (int error = SetOffset(reader.Fd, offset); error != 0) {
    return error;
  }
  // Standard input taken back is no longer at its end.
  if (reader.Input != nullptr) reader.Input->Ended = false;
  reader.BytesRead = 0;
  reader.AtEnd = false;
  reader.At = reader.Filled = 0;
  return 0;
}

int FillTemplate(TemplateReader& reader, std::string_view* whole) {
  *whole = {};
  if (int error = Refill(reader); error != 0) return error;
  if (reader.AtEnd && reader.Copy == nullptr && reader.Input == nullptr &&
      reader.BytesRead == static_cast<int64_t>(reader.Filled)) {
    *whole = std::string_view(reader.Buffer, reader.Filled);
  }
  return 0;
}

int ReadTemplateLine(TemplateReader& reader, ShortText* line, bool* has_line) {
  line->Length = 0;
  *has_line = false;
  if (reader.At == reader.Filled) {
    if (int error = Refill(reader); error != 0) return error;
    if (reader.Filled == 0) return 0;
  }
  *has_line = true;
  for (;;) {
    if (reader.At == reader.Filled) {
      if (int error = Refill(reader); error != 0) return error;
      if (reader.Filled == 0) return 0;  // the last line needs no line end
    }
    // The line's bytes up to its end or the buffer's go in at once; what
    // does not fit is dropped.
    size_t end = LineEnd(reader, reader.At);
    AppendBytes(*line, reader.Buffer + reader.At, end - reader.At);
    reader.At = end;
    if (reader.At < reader.Filled && IsLineEnd(reader.Buffer[reader.At])) {
      break;
    }
  }
  // The line ends at an LF, or at a CR with or without an LF after it.
  if (reader.Buffer[reader.At++] == '\n') return 0;
  // A CR that ends the buffer may be half of a CR LF: read on.
  if (reader.At == reader.Filled) {
    if (int error = Refill(reader); error != 0) return error;
  }
  if (reader.At < reader.Filled && reader.Buffer[reader.At] == '\n') {
    ++reader.At;
  }
  return 0;
}

void CloseTemplate(TemplateReader& reader) {
  // The close is the last call, so that it returns straight to the caller.
  int fd = reader.Fd;
  reader.Fd = -1;
  CloseFile(fd);
}
