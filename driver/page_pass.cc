#include "driver/page_pass.h"

#include <string_view>

#include "listing/base_list.h"
#include "system/fatal.h"
#include "text/code_pages.h"
#include "text/text_helpers.h"

namespace {

constexpr std::string_view kMarkerStart = "<!--PELLIDOR:";
constexpr std::string_view kCodePageStart = "<!--PELLIDOR-CODEPAGE:";

// The bytes of `text` before the first `separator`, or all of them;
// `*found` tells whether the separator was there.
std::string_view Before(std::string_view text, std::string_view separator,
                        bool* found) {
  size_t at = text.find(separator);
  *found = at != std::string_view::npos;
  return *found ? text.substr(0, at) : text;
}

}  // namespace

bool FindListMarker(const ShortText& line, ListMarker* marker) {
  size_t at = View(UpperText(line)).find(kMarkerStart);
  if (at == std::string_view::npos) return false;
  std::string_view rest = View(line).substr(at + kMarkerStart.size());
  bool found = false;
  std::string_view base_name = Before(rest, ",", &found);
  marker->BaseName = MakeShortText(found ? base_name : std::string_view());
  if (found) rest.remove_prefix(base_name.size() + 1);
  std::string_view link_path = Before(rest, "-->", &found);
  marker->LinkPath = MakeShortText(found ? link_path : std::string_view());
  return true;
}

bool FindCodePageLine(const ShortText& line, ShortText* name) {
  ListMarker marker;
  if (FindListMarker(line, &marker)) return false;
  size_t at = View(UpperText(line)).find(kCodePageStart);
  if (at == std::string_view::npos) return false;
  std::string_view rest = View(line).substr(at + kCodePageStart.size());
  bool found = false;
  *name = MakeShortText(Before(rest, "-->", &found));
  return true;
}

void WritePage(const RunState& run, TemplateReader& page_template,
               OutputPage& page, StandardInput& input) {
  CodePage code_page = run.BoardCodePage;
  ShortText line;
  bool has_line = true;
  for (;;) {
    int error = ReadTemplateLine(page_template, &line, &has_line);
    if (error != 0) FatalIoError(error);
    if (!has_line) break;
    ListMarker marker;
    if (FindListMarker(line, &marker)) {
      // The marker line itself, and any text around the marker, is left out.
      WriteBaseList(run, page, input, marker.BaseName, marker.LinkPath,
                    code_page);
    } else if (ShortText name; FindCodePageLine(line, &name)) {
      if (name.Length == 0) {
        code_page = run.BoardCodePage;
      } else if (!ParseCodePage(View(name), &code_page)) {
        ShortText message;
        AppendText(message, "ERROR: Unknown code page ");
        AppendText(message, View(name));
        WritePageLine(page, View(message));
      }
    } else {
      WritePageLine(page, View(line));
    }
  }
}
