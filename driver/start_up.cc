#include "driver/start_up.h"

#include <errno.h>

#include <cstring>
#include <span>
#include <string_view>

#include "board/board_files.h"
#include "system/console.h"
#include "system/fatal.h"
#include "system/file_io.h"
#include "text/text_helpers.h"

namespace {

constexpr int kArgumentCount = 5;
// The files that a run opens before the page: korvel.dat and the templates.
constexpr int kMostInputs = 4;
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
  if (OpenForReading(path, &fd, facts) != 0) return false;
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

// The directory of the board's list files: ListDirectory is a plain prefix
// of their names, so it is the part up to its last "/", or "." without one.
ShortText ListFilesDirectory(const ShortText& list_directory) {
  std::string_view prefix = View(list_directory);
  size_t slash = prefix.rfind('/');
  if (slash == std::string_view::npos) return MakeShortText(".");
  return MakeShortText(prefix.substr(0, slash + 1));
}

// Ends the run with 5 when the output path names a file that the run reads:
// one of `inputs`, or a ".dir" or ".des" file of the list directory, under
// any name. Creating the page would empty that file, and a template that is
// the page would read back its own output without end.
void RefuseInputAsOutput(const RunState& run,
                         std::span<const FileFacts> inputs) {
  if (run.OutputPath.Length == 0) return;
  FileFacts output;
  // A path that names nothing yet cannot be an input. Only a regular file
  // can be emptied or outgrow a disk, so /dev/null as both a template and
  // the output stays allowed; and an input that is the same file as a
  // regular output is a regular file too.
  if (GetPathFacts(run.OutputPath, &output) != 0 || !output.Regular) return;
  for (const FileFacts& input : inputs) {
    if (SameFile(input, output)) FatalIoError(IoErrorFromErrno(EEXIST));
  }
  constexpr std::string_view kListEndings[] = {".dir", ".des"};
  if (DirectoryHoldsFile(ListFilesDirectory(run.Config.ListDirectory),
                         kListEndings, output)) {
    FatalIoError(IoErrorFromErrno(EEXIST));
  }
}

int Refuse(std::string_view message) {
  WriteConsoleLine(message);
  return 1;
}

}  // namespace

int StartUp(int argc, char** argv, RunState& run,
            TemplateReader& page_template) {
  WriteConsoleLine("");
  WriteConsoleLine("PELLIDOR : Converts Korvel File Bases to HTML Listings");
  WriteConsoleLine("  v1.0   : Compatible with Korvel v1.07.3");
  WriteConsoleLine("");
  if (argc - 1 != kArgumentCount) {
    return Refuse(
        "Usage: PELLIDOR [korvel_dir] [template 1] [template 2] [template 3] "
        "[output]");
  }
  run.BoardDirectory = Argument(argv[1]);
  run.PageTemplatePath = Argument(argv[2]);
  run.EntryTemplatePath = Argument(argv[3]);
  run.AlternateTemplatePath = Argument(argv[4]);
  run.OutputPath = Argument(argv[5]);
  run.HasAlternateTemplate = !IsNone(run.AlternateTemplatePath);

  // What each opened input is, to tell the output apart from them.
  FileFacts inputs[kMostInputs];
  int input_count = 0;
  if (!ReadConfiguration(run.BoardDirectory, &run.Config,
                         &inputs[input_count++])) {
    return Refuse("ERROR: Unable to read KORVEL.DAT!");
  }
  if (OpenTemplate(run.PageTemplatePath, page_template,
                   &inputs[input_count++]) != 0) {
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
  RefuseInputAsOutput(run, std::span(inputs, input_count));
  return 0;
}
