#ifndef LISTING_RUN_STATE_H_
#define LISTING_RUN_STATE_H_

#include "board/records.h"
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
  // Whether each entry template was a regular file when it was checked.
  bool EntryTemplateRegular = false;
  bool AlternateTemplateRegular = false;
  BoardConfig Config;
};

#endif  // LISTING_RUN_STATE_H_
