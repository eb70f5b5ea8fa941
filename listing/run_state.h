#ifndef LISTING_RUN_STATE_H_
#define LISTING_RUN_STATE_H_

#include "board/records.h"
#include "system/file_io.h"
#include "text/code_pages.h"
#include "text/short_text.h"

// What start-up learns before the page pass; only read afterwards.
struct RunState {
  ShortText BoardDirectory;
  ShortText PageTemplatePath;
  ShortText EntryTemplatePath;
  ShortText AlternateTemplatePath;
  ShortText OutputPath;
  // False when the fourth argument is "NONE" in any letter case.
  bool HasAlternateTemplate = false;
  // What each entry template was when it was checked, so that opening it per
  // listed file needs no fstat.
  FileFacts EntryTemplateFacts;
  FileFacts AlternateTemplateFacts;
  BoardConfig Config;
  // The character set of the board's names and descriptions.
  CodePage BoardCodePage = CODE_PAGE_437;
};

#endif  // LISTING_RUN_STATE_H_
