#include "driver/start_up.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "board/board_files.h"
#include "driver/page_pass.h"
#include "listing/base_list.h"
#include "system/console.h"
#include "system/fatal.h"
#include "system/file_io.h"
#include "text/code_pages.h"
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

// Reads BoardConfig from korvel.dat in the board directory, in any letter
// case when no file has that very name, and tells which file that was; false
// when the file cannot be opened. A short file gives its error in `*error`.
// PELLIDOR_LISTDIR, set and not empty, takes the recorded list directory's
// place, for a board that records one from another machine.
bool ReadConfiguration(const ShortText& board_directory, BoardConfig* config,
                       FileFacts* facts, int* error) {
  ShortText path = WithTrailingSlash(board_directory);
  AppendText(path, "korvel.dat");
  int fd = -1;
  if (OpenBoardFile(path, &fd, facts) != 0) return false;
  *error = ReadBoardConfig(fd, config);
  CloseFile(fd);
  const char* list_directory = std::getenv("PELLIDOR_LISTDIR");
  if (list_directory != nullptr && *list_directory != '\0') {
    config->ListDirectory = MakeShortText(list_directory);
  }
  return true;
}

// Opens an entry template only to see that it can be; notes what it is.
bool CheckTemplate(const ShortText& path, FileFacts* facts) {
  TemplateReader reader;
  if (OpenTemplate(path, reader, facts) != 0) return false;
  CloseTemplate(reader);
  return true;
}

// What each input of the run is, to tell the output apart from them.
struct Inputs {
  FileFacts Files[kMostInputs];
  int Count = 0;
  bool ConfigRead = false;  // so that the list directory is known
};

// Reads korvel.dat into `run` and opens the templates, the page template
// into `page_template`; returns the message for the first that cannot be
// opened, or nothing. A short korvel.dat gives its error in `*error`.
std::string_view OpenInputs(RunState& run, TemplateReader& page_template,
                            StandardInput* input, Inputs& inputs, int* error) {
  if (!ReadConfiguration(run.BoardDirectory, &run.Config,
                         &inputs.Files[inputs.Count++], error)) {
    return "ERROR: Unable to read KORVEL.DAT!";
  }
  if (*error != 0) return {};
  inputs.ConfigRead = true;
  if (OpenTemplate(run.PageTemplatePath, page_template,
                   &inputs.Files[inputs.Count++], input) != 0) {
    return "ERROR: Unable to read template 1";
  }
  if (!CheckTemplate(run.EntryTemplatePath, &run.EntryTemplateFacts)) {
    return "ERROR: Unable to read template 2";
  }
  inputs.Files[inputs.Count++] = run.EntryTemplateFacts;
  if (run.HasAlternateTemplate) {
    if (!CheckTemplate(run.AlternateTemplatePath,
                       &run.AlternateTemplateFacts)) {
      return "ERROR: Unable to read template 3";
    }
    inputs.Files[inputs.Count++] = run.AlternateTemplateFacts;
  }
  return {};
}

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
  int64_t start = 0;
  // A file that cannot be taken back is not read ahead: the lists then
  // refuse it as they open it.
  if (!CanRestartTemplate(page_template) ||
      TemplateOffset(page_template, &start) != 0) {
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
// `inputs`, a list file of the list directory, or one that a marker names.
// Emptying that file would lose it, and a template that is the page would
// read back its own output without end.
bool OutputIsInput(const RunState& run, const Inputs& inputs,
                   TemplateReader& page_template, const FileFacts& output,
                   bool created, int* error) {
  for (int i = 0; i < inputs.Count; ++i) {
    if (SameFile(inputs.Files[i], output)) return true;
  }
  return InListDirectory(run, output, created) ||
         MarkedListFile(run, page_template, output, created, error);
}

// Opens the page into `*page_fd` (standard output for an empty name) and
// empties a regular file, once the open file is known to be none of the
// run's inputs: the file that is checked is the file that is written. An
// input as the output ends the run with 5, a failed open, look or emptying
// with its error, all before a byte is emptied. A page template that is no
// regular file is first read into memory when the output exists, so that its
// markers are checked too; one too long to hold ends the run with 5.
void OpenPage(const RunState& run, const Inputs& inputs,
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
  if (int error = EmptyFile(*page_fd); error != 0) FatalIoError(error);
}

// Whether standard output is a regular file that the run reads, so that no
// console byte may go to it: one of `inputs`, opened before a failure or
// not, or, once korvel.dat is read, a list file. Writes nothing: a failed
// read of the page template is met again, and told, as the page is made.
bool StandardOutputIsInput(const RunState& taken, const Inputs& inputs,
                           TemplateReader& page_template) {
  FileFacts output;
  if (GetFileFacts(kStandardOutput, &output) != 0 || !output.Regular) {
    return false;
  }
  // Standard output is the file in question, whatever the page's name.
  RunState run = taken;
  run.OutputPath = ShortText{};
  bool is_input = false;
  for (int i = 0; i < inputs.Count; ++i) {
    is_input = is_input || SameFile(inputs.Files[i], output);
  }
  int read_error = 0;
  return is_input ||
         (inputs.ConfigRead &&
          (InListDirectory(run, output, false) ||
           MarkedListFile(run, page_template, output, false, &read_error)));
}

constexpr std::string_view kUsageLine =
    "Usage: PELLIDOR [korvel_dir] [template 1] [template 2] [template 3] "
    "[output]";

constexpr std::string_view kHelpText =
    "\n\n"
    "Writes one HTML page that lists the board's file bases, shaped by the\n"
    "templates. Arguments, all five in this order:\n"
    "  korvel_dir  the board directory, where korvel.dat lies\n"
    "  template 1  the page template, or \"\" for standard input\n"
    "  template 2  the entry template, or \"\" for standard input\n"
    "  template 3  the alternate entry template, NONE for none, or \"\" for\n"
    "              standard input\n"
    "  output      the page, created or emptied, or \"\" for standard output\n"
    "\n"
    "Environment:\n"
    "  PELLIDOR_CODEPAGE  the board's code page: 437 (when unset), 850,\n"
    "                     866, 1252 or utf-8\n"
    "  PELLIDOR_LISTDIR   the list directory, in place of the one that\n"
    "                     korvel.dat records\n"
    "\n"
    "  pellidor --help     this text\n"
    "  pellidor --version  the version\n"
    "\n"
    "The manual page: man pellidor (pellidor(1)).\n";

constexpr std::string_view kVersionLine = "pellidor 1.0\n";

int Refuse(std::string_view message) {
  WriteConsoleLine(message);
  return 1;
}

}  // namespace

int AnswerHelpOrVersion(int argc, char** argv) {
  if (argc != 2) return -1;
  std::string_view argument = argv[1];
  int error = 0;
  if (argument == "--help") {
    error = WriteAll(kStandardOutput, kUsageLine.data(), kUsageLine.size());
    if (error == 0) {
      error = WriteAll(kStandardOutput, kHelpText.data(), kHelpText.size());
    }
  } else if (argument == "--version") {
    error = WriteAll(kStandardOutput, kVersionLine.data(), kVersionLine.size());
  } else {
    return -1;
  }
  return error == 0 ? 0 : 1;
}

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
            TemplateReader& page_template, StandardInput& input,
            int* page_fd) {
  // The inputs are opened before the greeting, so that it is known whether
  // standard output is one of them; their failures are told in turn below.
  Inputs inputs;
  int config_error = 0;
  std::string_view message;
  if (arguments_taken) {
    message = OpenInputs(run, page_template, &input, inputs, &config_error);
    if (StandardOutputIsInput(run, inputs, page_template)) SilenceConsole();
  }
  WriteConsoleLine("");
  WriteConsoleLine("PELLIDOR : Converts Korvel File Bases to HTML Listings");
  WriteConsoleLine("  v1.0   : Compatible with Korvel v1.07.3");
  WriteConsoleLine("");
  if (!arguments_taken) {
    return Refuse(kUsageLine);
  }
  const char* code_page = std::getenv("PELLIDOR_CODEPAGE");
  if (!ParseCodePage(code_page == nullptr ? "" : code_page,
                     &run.BoardCodePage)) {
    return Refuse("ERROR: Unknown code page in PELLIDOR_CODEPAGE!");
  }
  if (config_error != 0) FatalIoError(config_error);
  if (!message.empty()) return Refuse(message);
  WriteConsoleLine("- Working ... ");
  OpenPage(run, inputs, page_template, page_fd);
  return 0;
}
