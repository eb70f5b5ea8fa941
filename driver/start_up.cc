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

// Reads BoardConfig from korvel.dat in the board directory and tells which
// file that was; false when the file cannot be opened. A short file gives
// its error in `*error`.
bool ReadConfiguration(const ShortText& board_directory, BoardConfig* config,
                       FileFacts* facts, int* error) {
  ShortText path = WithTrailingSlash(board_directory);
  AppendText(path, "korvel.dat");
  int fd = -1;
  if (OpenForReading(path, &fd, facts) != 0) return false;
  *error = ReadBoardConfig(fd, config);
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

// What each input of the run is, to tell the output apart from them.
struct Inputs {
  FileFacts Files[kMostInputs];
  int Count = 0;
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

// Whether the output is a ".dir" or ".des" file of the list directory, in
// any letter case. When that directory cannot be read through, a named
// output that lies in it under such a name counts as one all the same.
bool InListDirectory(const RunState& run, const FileFacts& output) {
  ShortText directory = ListFilesDirectory(run.Config.ListDirectory);
  bool found = false;
  if (FindInDirectory(directory, kListEndings, output, &found) != 0) {
    found = run.OutputPath.Length > 0 &&
            LiesDirectlyIn(run.OutputPath, directory, kListEndings);
  }
  return found;
}

// Whether the output is one of the ".dir" and ".des" files that the markers
// of a page template that is a regular file name, by the very paths the
// lists will open. The template is read ahead and then taken back to where
// it stood, standard input too; a failed read gives its error in `*error`.
bool MarkedListFile(const RunState& run, TemplateReader& page_template,
                    const FileFacts& output, int* error) {
  int64_t start = 0;
  // A file that cannot be taken back is not read ahead: the lists then
  // refuse it as they open it.
  if (!page_template.Regular || TemplateOffset(page_template, &start) != 0) {
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
      FileFacts list_file;
      found = found || (GetPathFacts(ListFilePath(run, marker.BaseName, ending),
                                     &list_file) == 0 &&
                        SameFile(list_file, output));
    }
  }
  int restart_error = RestartTemplate(page_template, start);
  if (*error == 0) *error = restart_error;
  return found;
}

// Whether the page would be written over a file that the run reads: one of
// `inputs`, a list file of the list directory, or one that a marker names.
// Creating the page would empty that file, and a template that is the page
// would read back its own output without end.
bool OutputIsInput(const RunState& run, const Inputs& inputs,
                   TemplateReader& page_template, const FileFacts& output,
                   int* error) {
  for (int i = 0; i < inputs.Count; ++i) {
    if (SameFile(inputs.Files[i], output)) return true;
  }
  return InListDirectory(run, output) ||
         MarkedListFile(run, page_template, output, error);
}

// Ends the run with 5 when the output is one of the run's inputs; a failed
// read of the page template ends it as it would in the page pass.
void RefuseInputAsOutput(const RunState& run, const Inputs& inputs,
                         TemplateReader& page_template) {
  FileFacts output;
  // A path that names nothing yet cannot be an input.
  if (!ExistingOutput(run, &output)) return;
  int read_error = 0;
  if (OutputIsInput(run, inputs, page_template, output, &read_error)) {
    FatalIoError(kErrorAccessDenied);
  }
  if (read_error != 0) FatalIoError(read_error);
}

// Standard output, when it is one of the run's inputs and the messages
// would be written over its bytes (a file opened for reading and writing, as
// "1<>"), is first moved to its end, so that it keeps every byte and the
// messages come after them: the report of its refusal as the page, or the
// messages of a run whose page goes elsewhere. Writes nothing: every failure
// met here is met again, and told, by StartUp.
void PutMessagesAfterInput(const RunState& taken) {
  FileFacts output;
  if (!WritesOver(kStandardOutput, &output)) return;
  // Standard output is the file in question, whatever the page's name.
  RunState run = taken;
  run.OutputPath = ShortText{};
  TemplateReader page_template;
  Inputs inputs;
  int error = 0;
  if (OpenInputs(run, page_template, nullptr, inputs, &error).empty() &&
      error == 0 && OutputIsInput(run, inputs, page_template, output, &error)) {
    MoveToEnd(kStandardOutput);
  }
  CloseTemplate(page_template);
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
            TemplateReader& page_template, StandardInput& input) {
  if (arguments_taken) PutMessagesAfterInput(run);
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
  Inputs inputs;
  int config_error = 0;
  std::string_view message =
      OpenInputs(run, page_template, &input, inputs, &config_error);
  if (config_error != 0) FatalIoError(config_error);
  if (!message.empty()) return Refuse(message);
  WriteConsoleLine("- Working ... ");
  RefuseInputAsOutput(run, inputs, page_template);
  return 0;
}
