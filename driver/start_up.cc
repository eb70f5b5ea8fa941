#include "driver/start_up.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "board/board_files.h"
#include "driver/output_checks.h"
#include "system/console.h"
#include "system/fatal.h"
#include "system/file_io.h"
#include "text/code_pages.h"
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

// Reads korvel.dat into `run` and opens the templates, the page template
// into `page_template`; returns the message for the first that cannot be
// opened, or nothing. A short korvel.dat gives its error in `*error`.
std::string_view OpenInputs(RunState& run, TemplateReader& page_template,
                            StandardInput* input, RunInputs& inputs,
                            int* error) {
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
  return kRefusedStatus;
}

}  // namespace

int AnswerHelpOrVersion(int argc, char** argv) {
  if (argc != 2) return kNoAnswer;
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
    return kNoAnswer;
  }
  return error == 0 ? 0 : kRefusedStatus;
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
            RunInputs& inputs) {
  // The inputs are opened before the greeting, so that it is known whether
  // standard output is one of them; their failures are told in turn below.
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
  return 0;
}
