#include "listing/base_list.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "board/board_files.h"
#include "listing/entry_expansion.h"
#include "listing/template_lines.h"
#include "system/fatal.h"

namespace {

// A list file that is the page would be read as the page is written: its
// descriptions would be the page's own bytes, or its records be made of
// them. Each caller ends the run itself, so that the report tells which.
bool IsThePage(const OutputPage& page, const FileFacts& list_file) {
  return page.Facts.Regular && SameFile(page.Facts, list_file);
}

// Template lines whose tokens are kept; those past share the last place.
constexpr int kKeptLines = 16;

// Bytes of an entry template kept to know its next reading.
constexpr size_t kKeptBytes = 1024;

// An entry template, and the tokens of its lines. It is read anew for every
// listed file and nearly always comes back as it was: when it comes whole in
// one read, of at most kKeptBytes and kKeptLines lines, its bytes are kept,
// and a reading of the same bytes takes its lines from here without reading
// them apart again: about 600 fewer instructions a file (callgrind, on a
// template of three lines).
struct EntryTemplate {
  const ShortText& Path;
  const FileFacts& Facts;
  LineTokens Lines[kKeptLines];
  size_t KeptSize = 0;  // none kept
  int KeptLines = 0;
  char Kept[kKeptBytes] = {};
};

// Whether `whole`, a whole reading of the template, is the one kept.
bool IsKept(const EntryTemplate& entry_template, std::string_view whole) {
  std::string_view kept(entry_template.Kept, entry_template.KeptSize);
  return !kept.empty() && whole == kept;
}

// Keeps `whole`, a whole reading of the template that gave `lines` lines;
// one that cannot be kept forgets the last.
void Keep(EntryTemplate& entry_template, std::string_view whole, int lines) {
  entry_template.KeptSize = 0;
  if (whole.empty() || whole.size() > kKeptBytes || lines > kKeptLines) return;
  std::memcpy(entry_template.Kept, whole.data(), whole.size());
  entry_template.KeptSize = whole.size();
  entry_template.KeptLines = lines;
}

// Expands each line that `reader` has still to give; returns how many.
int ExpandTemplateLines(EntryTemplate& entry_template, TemplateReader& reader,
                        const Entry& entry) {
  ShortText line;
  bool has_line = true;
  for (int n = 0;; ++n) {
    int error = ReadTemplateLine(reader, &line, &has_line);
    if (error != 0) FatalIoError(error);
    if (!has_line) return n;
    ExpandEntryLine(line, entry_template.Lines[std::min(n, kKeptLines - 1)],
                    entry);
  }
}

// Opens the chosen entry template anew and expands each of its lines.
void WriteEntry(EntryTemplate& entry_template, StandardInput& input,
                const Entry& entry) {
  TemplateReader reader;
  int error = ReopenTemplate(entry_template.Path, entry_template.Facts, reader,
                             &input);
  if (error != 0) FatalIoError(error);
  std::string_view whole;
  error = FillTemplate(reader, &whole);
  if (error != 0) FatalIoError(error);
  if (IsKept(entry_template, whole)) {
    ExpandKeptLines(entry_template.Lines, entry_template.KeptLines, entry);
  } else {
    Keep(entry_template, whole,
         ExpandTemplateLines(entry_template, reader, entry));
  }
  CloseTemplate(reader);
}

}  // namespace

ShortText ListFilePath(const RunState& run, const ShortText& base_name,
                       std::string_view extension) {
  ShortText path = run.Config.ListDirectory;
  AppendText(path, View(base_name));
  AppendText(path, extension);
  return path;
}

void WriteBaseList(const RunState& run, OutputPage& page, StandardInput& input,
                   const ShortText& base_name, const ShortText& link_path,
                   CodePage code_page) {
  FileList list;
  FileFacts list_file;
  if (OpenFileList(ListFilePath(run, base_name, ".dir"), list, &list_file) !=
      0) {
    ShortText message;
    AppendText(message, "ERROR: Unable to create list for ");
    AppendText(message, View(base_name));
    WritePageLine(page, View(message));
    return;
  }
  if (IsThePage(page, list_file)) FatalIoError(kErrorAccessDenied);
  // The descriptions must be there even when no entry asks for one.
  DescriptionStore store;
  if (int error = OpenDescriptionStore(ListFilePath(run, base_name, ".des"),
                                       store, &list_file);
      error != 0) {
    FatalIoError(error);
  }
  if (IsThePage(page, list_file)) FatalIoError(kErrorAccessDenied);

  EntryTemplate entry_template{run.EntryTemplatePath, run.EntryTemplateFacts,
                               {}};
  EntryTemplate alternate_template{run.AlternateTemplatePath,
                                   run.AlternateTemplateFacts, {}};
  bool alternate = false;
  while (!AtEndOfFileList(list)) {
    FileListRecord record;
    if (int error = ReadFileListRecord(list, &record); error != 0) {
      FatalIoError(error);
    }
    // A file left out does not count for the alternation either.
    if ((record.Flags & FLAG_EXCLUDED) != 0) continue;
    Entry entry{record, link_path, store, code_page, page};
    // One call of WriteEntry, so that it is inlined into this loop.
    bool use_alternate = alternate && run.HasAlternateTemplate;
    alternate = !use_alternate;
    WriteEntry(use_alternate ? alternate_template : entry_template, input,
               entry);
  }
  CloseDescriptionStore(store);
  CloseFileList(list);
}
