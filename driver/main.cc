// pellidor: writes an HTML listing of a board's file bases, shaped by the
// user's templates.

#include "driver/output_checks.h"
#include "driver/page_pass.h"
#include "driver/start_up.h"
#include "listing/output_page.h"
#include "listing/run_state.h"
#include "listing/template_lines.h"
#include "system/console.h"
#include "system/fatal.h"
#include "system/file_io.h"

int main(int argc, char** argv) {
  // Asked for its usage or version, the program opens nothing and leaves the
  // terminal as it is.
  if (int status = AnswerHelpOrVersion(argc, argv); status != kNoAnswer) {
    return status;
  }
  // Before anything is opened: no file of the run may take the place of a
  // closed standard descriptor and be read or written as one.
  if (int error = OpenClosedStandardDescriptors(); error != 0) {
    FatalIoError(error);
  }
  // A reader that goes away is a failed write (101), not a reason to die;
  // so is a write past the file-size limit.
  IgnoreWriteSignals();
  RunState run;
  bool arguments_taken = TakeArguments(argc, argv, run);
  // Only a run with its five arguments reads templates.
  SetUpConsole(arguments_taken && ReadsStandardInput(run));

  TemplateReader page_template;
  StandardInput input;
  RunInputs inputs;
  if (int status =
          StartUp(arguments_taken, run, page_template, input, inputs);
      status != 0) {
    TakeDownConsole();
    return status;
  }
  // Nothing is emptied before every check has passed.
  int page_fd = kStandardOutput;
  OpenPage(run, inputs, page_template, &page_fd);
  OutputPage page;
  StartPage(page, page_fd);
  WritePage(run, page_template, page, input);

  CloseTemplate(page_template);
  ClosePage(page);
  TakeDownConsole();
  return 0;
}
