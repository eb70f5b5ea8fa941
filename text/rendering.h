#ifndef TEXT_RENDERING_H_
#define TEXT_RENDERING_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/code_pages.h"

// Board text as the board's terminals show it, for a modern page: escape
// sequences and control bytes taken out, colours kept as spans, the code
// page decoded to UTF-8, and the result escaped for HTML or for the inside
// of a JSON string. Pure: each call writes into a caller's buffer.

enum RenderMode {
  RENDER_HTML_COLOURS,  // HTML with a <span> for each coloured stretch
  RENDER_HTML,          // HTML, colours ignored
  RENDER_JSON,          // the inside of a JSON string, colours ignored
};

// The colour state that escape sequences set; it carries from one line of
// a description to the next.
struct Colours {
  uint8_t Foreground = 7;
  uint8_t Background = 0;
  bool Bold = false;
  bool Reverse = false;
};

// A rendered line is at most this many bytes for each byte of the line,
// plus kRenderSlack. The most any byte costs is within a cursor move of five
// bytes ("ESC[80C"): eighty blanks, the span that they close and the one
// opened after them, 111 bytes; a character costs at most 6 ("&quot;"), a
// colour change 31 (a "</span>" and the widest "<span ...>").
inline constexpr size_t kRenderGrowth = 24;
inline constexpr size_t kRenderSlack = 64;
inline constexpr size_t kRenderedLineCapacity = 255 * kRenderGrowth + kRenderSlack;

// Renders `line` (at most 255 bytes) of code page `page` into `out`, which
// holds kRenderedLineCapacity bytes; returns how many bytes it wrote. Colour
// changes update `colours` in every mode; only RENDER_HTML_COLOURS shows them.
size_t RenderLine(std::string_view line, CodePage page, RenderMode mode,
                  Colours& colours, char* out);

#endif  // TEXT_RENDERING_H_
