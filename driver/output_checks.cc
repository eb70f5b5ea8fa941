#include "driver/output_checks.h"

#include <cstdint>
#include <string_view>

#include "board/board_files.h"
#include "driver/page_pass.h"
#include "listing/base_list.h"
#include "system/fatal.h"
#include "text/short_text.h"

namespace {

constexpr std::string_view kListEndings[] = {".dir", ".des"};

// The file that the page will be written over when it is a regular file that
// exists already: the output path's, or standard output's for an empty one.
// A name that cannot be looked at counts as none.
bool ExistingOutput(const RunState& run, FileFacts* output) {
  int error = run.OutputPath.Length > 0
                  ? GetPathFacts(run.OutputPath, output)
                  : GetFileFacts(kStandardOutput, output);
  return error == 0 && output->Regular;
}

// Whether `path` names the output's own entry: the same last part in the same
// folder. A page that the run has just created there is none of its inputs.
bool IsOutputsName(const RunState& run, const ShortText& path) {
  FileFacts folder;
  FileFacts output_folder;
  return run.OutputPath.Length > 0 &&
         LastPartOf(path) == LastPartOf(run.OutputPath) &&
         GetPathFacts(FolderOf(path), &folder) == 0 &&
         GetPathFacts(FolderOf(run.OutputPath), &output_folder) == 0 &&
         SameFile(folder, output_folder);
}

// Whether the output is a ".dir" or ".des" file of the list directory, in
// any letter case; a page `created` by the run is not one under its own name.
// When that directory cannot be read through, an output that existed and lies
// in it under such a name counts as one all the same.
bool InListDirectory(const RunState& run, const FileFacts& output,
                     bool created) {
  // ListDirectory is a plain prefix of the list files' paths.
  ShortText directory = FolderOf(run.Config.ListDirectory);
  ShortText own_entry = directory;
  AppendText(own_entry, LastPartOf(run.OutputPath));
  std::string_view except =
      created && IsOutputsName(run, own_entry) ? LastPartOf(run.OutputPath)
                                               : std::string_view();
  bool found = false;
  if (FindInDirectory(directory, kListEndings, output, &found, except) != 0) {
    found = !created && run.OutputPath.Length > 0 &&
            LiesDirectlyIn(run.OutputPath, directory, kListEndings);
  }
  return found;
}

// Whether the output is one of the ".dir" and ".des" files that the markers
// of the page template name, by the names the lists will open; a page
// `created` by the run is not one under its own name. Only a template that
// can be taken back is read ahead, and then taken back to where it stood,
// standard input too; a failed read gives its error in `*error`.
bool MarkedListFile(const RunState& run, TemplateReader& page_template,
                    const FileFacts& output, bool created, int* error) {
  // A file that cannot be taken back is not read ahead: the lists then
  // refuse it as they open it. One whose place cannot be learned fails the
  // read ahead, as a failed read does.
  if (!CanRestartTemplate(page_template)) return false;
  int64_t start = 0;
  if (int offset_error = TemplateOffset(page_template, &start);
      offset_error != 0) {
    *error = offset_error;
    return false;
  }
  bool found = false;
  ShortText line;
  bool has_line = true;
  while (!found && has_line && *error == 0) {
    *error = ReadTemplateLine(page_template, &line, &has_line);
    ListMarker marker;
    if (!has_line || !FindListMarker(line, &marker)) continue;
    for (std::string_view ending : kListEndings) {
      ShortText path = ListFilePath(run, marker.BaseName, ending);
      FileFacts list_file;
      found = found || (GetBoardFileFacts(path, &list_file) == 0 &&
                        SameFile(list_file, output) &&
                        !(created && IsOutputsName(run, path)));
    }
  }
  int restart_error = RestartTemplate(page_template, start);
  if (*error == 0) *error = restart_error;
  return found;
}

// Whether the page would be written over a file that the run reads: one of
// `inputs`, or, once korvel.dat has told the list directory, a list file of
// that directory or one that a marker names. Emptying that file would lose
// it, and a template that is the page would read back its own output without
// end.
bool OutputIsInput(const RunState& run, const RunInputs& inputs,
                   TemplateReader& page_template, const FileFacts& output,
                   bool created, int* error) {
  for (int i = 0; i < inputs.Count; ++i) {
    if (SameFile(inputs.Files[i], output)) return true;
  }
  return inputs.ConfigRead &&
         (InListDirectory(run, output, created) ||
          MarkedListFile(run, page_template, output, created, error));
}

}  // namespace

void OpenPage(const RunState& run, const RunInputs& inputs,
              TemplateReader& page_template, int* page_fd) {
  FileFacts output;
  bool existed = ExistingOutput(run, &output);
  if (existed && !page_template.Regular) {
    bool too_long = false;
    if (int error = CopyTemplate(page_template, &too_long); error != 0) {
      FatalIoError(error);
    }
    if (too_long) FatalIoError(kErrorAccessDenied);
  }
  *page_fd = kStandardOutput;
  if (run.OutputPath.Length > 0) {
    if (int error = CreateForWriting(run.OutputPath, page_fd); error != 0) {
      FatalIoError(error);
    }
  }
  if (int error = GetFileFacts(*page_fd, &output); error != 0) {
    FatalIoError(error);
  }
  // Only a regular file can be emptied or outgrow a disk, so /dev/null as
  // both a template and the output stays allowed.
  if (!output.Regular) return;
  int read_error = 0;
  if (OutputIsInput(run, inputs, page_template, output, !existed,
                    &read_error)) {
    FatalIoError(kErrorAccessDenied);
  }
  if (read_error != 0) FatalIoError(read_error);
  // Standard output was opened by the caller, emptied or not as it chose.
  if (run.OutputPath.Length == 0) return;
  // A page that has no bytes is not cut: ext4 writes out at its close every
  // file cut to no bytes, even one that had none, and the run then waits on
  // the disk for the whole page.
  if (output.Size == 0) return;
  if (int error = EmptyFile(*page_fd); error != 0) FatalIoError(error);
}

bool StandardOutputIsInput(const RunState& taken, const RunInputs& inputs,
                           TemplateReader& page_template) {
  FileFacts output;
  if (GetFileFacts(kStandardOutput, &output) != 0 || !output.Regular) {
    return false;
  }
  // Standard output is the file in question, whatever the page's name.
  RunState run = taken;
  run.OutputPath = ShortText{};
  int read_error = 0;
  return OutputIsInput(run, inputs, page_template, output, false,
                       &read_error) ||
         read_error != 0;
}
