#include "driver/start_up.h"

#include <cstring>
#include <string_view>

#include "board/board_files.h"
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

// Reads BoardConfig from korvel.dat in the board directory; false when the
// file cannot be opened.
bool ReadConfiguration(const ShortText& board_directory, BoardConfig* config) {
  ShortText path = WithTrailingSlash(board_directory);
  AppendText(path, "korvel.dat");
  int fd = -1;
  if (OpenBoardFile(path, &fd) != 0) return false;
  if (int error = ReadBoardConfig(fd, config); error != 0) FatalIoError(error);
  CloseFile(fd);
  return true;
}

// Opens an entry template only to see that it can be; notes whether it is a
// regular file.
bool CheckTemplate(const ShortText& path, bool* regular) {
  TemplateReader reader;
  if (OpenTemplate(path, reader) != 0) return false;
  *regular = reader.Regular;
  CloseTemplate(reader);
  return true;
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

  if (!ReadConfiguration(run.BoardDirectory, &run.Config)) {
    return Refuse("ERROR: Unable to read KORVEL.DAT!");
  }
  if (OpenTemplate(run.PageTemplatePath, page_template) != 0) {
    return Refuse("ERROR: Unable to read template 1");
  }
  if (!CheckTemplate(run.EntryTemplatePath, &run.EntryTemplateRegular)) {
    return Refuse("ERROR: Unable to read template 2");
  }
  if (run.HasAlternateTemplate &&
      !CheckTemplate(run.AlternateTemplatePath,
                     &run.AlternateTemplateRegular)) {
    return Refuse("ERROR: Unable to read template 3");
  }
  WriteConsoleLine("- Working ... ");
  return 0;
}
