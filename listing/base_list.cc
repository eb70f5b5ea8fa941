#include "listing/base_list.h"

#include <algorithm>

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

// An entry template, and the tokens of its lines.
struct EntryTemplate {
  const ShortText& Path;
  const FileFacts& Facts;
  LineTokens Lines[kKeptLines];
};

// Opens the chosen entry template anew and expands each of its lines.
void WriteEntry(EntryTemplate& entry_template, StandardInput& input,
                const Entry& entry) {
  TemplateReader reader;
  int error = ReopenTemplate(entry_template.Path, entry_template.Facts, reader,
                             &input);
  if (error != 0) FatalIoError(error);
  ShortText line;
  bool has_line = true;
  for (int n = 0;; ++n) {
    error = ReadTemplateLine(reader, &line, &has_line);
    if (error != 0) FatalIoError(error);
    if (!has_line) break;
    ExpandEntryLine(line, entry_template.Lines[std::min(n, kKeptLines - 1)],
                    entry);
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
    if (alternate && run.HasAlternateTemplate) {
      alternate = false;
      WriteEntry(alternate_template, input, entry);
    } else {
      alternate = true;
      WriteEntry(entry_template, input, entry);
    }
  }
  CloseDescriptionStore(store);
  CloseFileList(list);
}
