#include "listing/base_list.h"

#include "board/board_files.h"
#include "listing/entry_expansion.h"
#include "listing/template_lines.h"
#include "system/fatal.h"

namespace {

ShortText BaseFilePath(const RunState& run, const ShortText& base_name,
                       std::string_view extension) {
  ShortText path = run.Config.ListDirectory;
  AppendText(path, View(base_name));
  AppendText(path, extension);
  return path;
}

// Opens the chosen entry template anew and expands each of its lines.
void WriteEntry(const ShortText& template_path, const FileFacts& facts,
                const FileListRecord& record, const ShortText& link_path,
                const DescriptionStore& store, CodePage code_page,
                OutputPage& page) {
  TemplateReader reader;
  if (int error = ReopenTemplate(template_path, facts, reader); error != 0) {
    FatalIoError(error);
  }
  ShortText line;
  while (NextTemplateLine(reader, &line)) {
    ExpandEntryLine(line, record, link_path, store, code_page, page);
  }
  CloseTemplate(reader);
}

}  // namespace

void WriteBaseList(const RunState& run, OutputPage& page,
                   const ShortText& base_name, const ShortText& link_path) {
  FileList list;
  if (OpenFileList(BaseFilePath(run, base_name, ".dir"), list) != 0) {
    ShortText message;
    AppendText(message, "ERROR: Unable to create list for ");
    AppendText(message, View(base_name));
    WritePageLine(page, View(message));
    return;
  }
  // The descriptions must be there even when no entry asks for one.
  DescriptionStore store;
  if (int error =
          OpenDescriptionStore(BaseFilePath(run, base_name, ".des"), store);
      error != 0) {
    FatalIoError(error);
  }

  bool alternate = false;
  while (!AtEndOfFileList(list)) {
    FileListRecord record;
    if (int error = ReadFileListRecord(list, &record); error != 0) {
      FatalIoError(error);
    }
    // A file left out does not count for the alternation either.
    if ((record.Flags & FLAG_EXCLUDED) != 0) continue;
    if (alternate && run.HasAlternateTemplate) {
      alternate = false;
      WriteEntry(run.AlternateTemplatePath, run.AlternateTemplateFacts, record,
                 link_path, store, run.BoardCodePage, page);
    } else {
      alternate = true;
      WriteEntry(run.EntryTemplatePath, run.EntryTemplateFacts, record,
                 link_path, store, run.BoardCodePage, page);
    }
  }
  CloseDescriptionStore(store);
  CloseFileList(list);
}
