#include "driver/start_up.h"

#include <cstring>
#include <span>
#include <string_view>

#include "board/board_files.h"
#include "driver/page_pass.h"
#include "listing/base_list.h"
#include "system/console.h"
#include "system/fatal.h"
#include "system/file_io.h"
#include "text/text_helpers.h"

namespace {

constexpr int kArgumentCount = 5;
// An argument keeps at most its first 254 bytes.
constexpr size_t kArgumentLimit = 254;

ShortText Argument(char* argument) {
  return MakeShortText(std::string_view(argument, std::strlen(argument)),
                       kArgumentLimit);
}

bool IsNone(const ShortText& path) { return View(UpperText(path)) == "NONE"; }

// Reads BoardConfig from korvel.dat in the board directory and tells which
// file that was; false when the file cannot be opened.
bool ReadConfiguration(const ShortText& board_directory, BoardConfig* config,
                       FileFacts* facts) {
  ShortText path = WithTrailingSlash(board_directory);
  AppendText(path, "korvel.dat");
  int fd = -1;
  if (OpenBoardFile(path, &fd, facts) != 0) return false;
  if (int error = ReadBoardConfig(fd, config); error != 0) FatalIoError(error);
  CloseFile(fd);
  return true;
}

// Opens an entry template only to see that it can be; notes what it is.
bool CheckTemplate(const ShortText& path, FileFacts* facts) {
  TemplateReader reader;
  if (OpenTemplate(path, reader, facts) != 0) return false;
  CloseTemplate(reader);
  return true;
}

constexpr std::string_view kListEndings[] = {".dir", ".des"};

void RefuseIf(bool output_is_input) {
  if (output_is_input) FatalIoError(kErrorAccessDenied);
}

// The directory of the board's list files: ListDirectory is a plain prefix
// of their paths, so it is the part up to its last "/", or "." without one.
// A NUL ends the paths for the system, so the prefix ends there too.
ShortText ListFilesDirectory(const ShortText& list_directory) {
  std::string_view prefix = View(list_directory);
  prefix = prefix.substr(0, prefix.find('\0'));
  size_t slash = prefix.rfind('/');
  if (slash == std::string_view::npos) return MakeShortText(".");
  return MakeShortText(prefix.substr(0, slash + 1));
}

// The file the page will empty or write over when it is a regular file that
// exists already: the output path's, or standard output's for an empty one.
bool ExistingOutput(const RunState& run, FileFacts* output) {
  int error = run.OutputPath.Length > 0
                  ? GetPathFacts(run.OutputPath, output)
                  : GetFileFacts(kStandardOutput, output);
  // Only a regular file can be emptied or outgrow a disk, so /dev/null as
  // both a template and the output stays allowed; and an input that is the
  // same file as a regular output is a regular file too.
  return error == 0 && output->Regular;
}

// Refuses an output that is a ".dir" or ".des" file of the list directory,
// in any letter case. When that directory cannot be read through, a named
// output that lies in it under such a name is refused all the same.
void RefuseListDirectoryFile(const RunState& run, const FileFacts& output) {
  ShortText directory = ListFilesDirectory(run.Config.ListDirectory);
  bool found = false;
  if (FindInDirectory(directory, kListEndings, output, &found) != 0) {
    found = run.OutputPath.Length > 0 &&
            LiesDirectlyIn(run.OutputPath, directory, kListEndings);
  }
  RefuseIf(found);
}

// Reads a page template that is a regular file ahead for its markers, and
// refuses an output that is one of the ".dir" and ".des" files they name,
// by the very paths the lists will open. The template is then taken back to
// where it stood, standard input too. A failed read ends the run as it would
// in the page pass.
void RefuseMarkedListFile(const RunState& run, TemplateReader& page_template,
                          const FileFacts& output) {
  int64_t start = 0;
  // A file that cannot be taken back is not read ahead: the lists then
  // refuse it as they open it.
  if (!page_template.Regular || TemplateOffset(page_template, &start) != 0) {
    return;
  }
  ShortText line;
  while (NextTemplateLine(page_template, &line)) {
    ListMarker marker;
    if (!FindListMarker(line, &marker)) continue;
    for (std::string_view ending : kListEndings) {
      FileFacts list_file;
      RefuseIf(GetPathFacts(ListFilePath(run, marker.BaseName, ending),
                            &list_file) == 0 &&
               SameFile(list_file, output));
    }
  }
  if (int error = RestartTemplate(page_template, start); error != 0) {
    FatalIoError(error);
  }
}

// Ends the run with 5 when the page would be written over a file that the
// run reads: one of `inputs`, a list file of the list directory, or one that
// a marker names. Creating the page would empty that file, and a template
// that is the page would read back its own output without end.
void RefuseInputAsOutput(const RunState& run, std::span<const FileFacts> inputs,
                         TemplateReader& page_template) {
  FileFacts output;
  // A path that names nothing yet cannot be an input.
  if (!ExistingOutput(run, &output)) return;
  for (const FileFacts& input : inputs) RefuseIf(SameFile(input, output));
  RefuseListDirectoryFile(run, output);
  RefuseMarkedListFile(run, page_template, output);
}

int Refuse(std::string_view message) {
  WriteConsoleLine(message);
  return 1;
}

}  // namespace

bool TakeArguments(int argc, char** argv, RunState& run) {
  if (argc - 1 != kArgumentCount) return false;
  run.BoardDirectory = Argument(argv[1]);
  run.PageTemplatePath = Argument(argv[2]);
  run.EntryTemplatePath = Argument(argv[3]);
  run.AlternateTemplatePath = Argument(argv[4]);
  run.OutputPath = Argument(argv[5]);
  run.HasAlternateTemplate = !IsNone(run.AlternateTemplatePath);
  return true;
}

bool ReadsStandardInput(const RunState& run) {
  return run.PageTemplatePath.Length == 0 ||
         run.EntryTemplatePath.Length == 0 ||
         (run.HasAlternateTemplate && run.AlternateTemplatePath.Length == 0);
}

int StartUp(bool arguments_taken, RunState& run,
            TemplateReader& page_template, StandardInput& input) {
  WriteConsoleLine("");
  WriteConsoleLine("PELLIDOR : Converts Korvel File Bases to HTML Listings");
  WriteConsoleLine("  v1.0   : Compatible with Korvel v1.07.3");
  WriteConsoleLine("");
  if (!arguments_taken) {
    return Refuse(
        "Usage: PELLIDOR [korvel_dir] [template 1] [template 2] [template 3] "
        "[output]");
  }

  // What each opened input is, to tell the output apart from them.
  FileFacts inputs[4];
  int input_count = 0;
  if (!ReadConfiguration(run.BoardDirectory, &run.Config,
                         &inputs[input_count++])) {
    return Refuse("ERROR: Unable to read KORVEL.DAT!");
  }
  if (OpenTemplate(run.PageTemplatePath, page_template, &inputs[input_count++],
                   &input) != 0) {
    return Refuse("ERROR: Unable to read template 1");
  }
  if (!CheckTemplate(run.EntryTemplatePath, &run.EntryTemplateFacts)) {
    return Refuse("ERROR: Unable to read template 2");
  }
  inputs[input_count++] = run.EntryTemplateFacts;
  if (run.HasAlternateTemplate) {
    if (!CheckTemplate(run.AlternateTemplatePath,
                       &run.AlternateTemplateFacts)) {
      return Refuse("ERROR: Unable to read template 3");
    }
    inputs[input_count++] = run.AlternateTemplateFacts;
  }
  WriteConsoleLine("- Working ... ");
  RefuseInputAsOutput(run, std::span(inputs, input_count), page_template);
  return 0;
}
