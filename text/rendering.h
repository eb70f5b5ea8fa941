#ifndef TEXT_RENDERING_H_
#define TEXT_RENDERING_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/code_pages.h"

// Board text as the board's terminal drew it, for a modern page: the text
// is played on a screen of 80 columns and up to 2,048 rows that honours the
// cursor moves, colours and control bytes of DOS ANSI art, and the screen's
// rows are then written out, decoded to UTF-8 and escaped for HTML or for
// the inside of a JSON string.
//
// The screen is one plain record of fixed size, reused from text to text:
// starting a text clears only the rows that the one before wrote, and each
// row's cells past those written are blanks, so a text's cost grows with its
// bytes and the rows it reaches, never with the screen's size.

inline constexpr int kScreenColumns = 80;
inline constexpr int kScreenRows = 2048;

enum RenderMode {
  RENDER_HTML_COLOURS,  // HTML with a <span> for each coloured stretch
  RENDER_HTML,          // HTML, colours left out
  RENDER_JSON,          // the inside of a JSON string, colours left out
};

struct Screen {
  // The character of each cell: in Ascii when below 0x80, else Ascii holds
  // 0 and Wide the character.
  uint8_t Ascii[kScreenRows][kScreenColumns];
  uint32_t Wide[kScreenRows][kScreenColumns];
  // The look of each cell (the shown foreground times 16 plus the shown
  // background, and 256 for blink), kept only in rows that are not Simple.
  uint16_t Looks[kScreenRows][kScreenColumns];
  // How many cells of each row hold something; those past are blanks in
  // the default colours. Rows from RowsUsed on hold nothing.
  uint8_t Written[kScreenRows];
  int RowsUsed;
  // A row whose every cell holds an ASCII character in the look RowLook:
  // most rows of most texts, written and read a stretch at a time. Both
  // are set when a row's first cell is written, and mean nothing before.
  bool Simple[kScreenRows];
  uint16_t RowLook[kScreenRows];
  int Row, Column;  // from 0
  int SavedRow, SavedColumn;
  int Foreground, Background;
  bool Bold, Blink, Reverse;
  uint16_t Look;  // the look that a character written now gets
  // The last thing that counted was a character that wrapped: a line end
  // right after it moves nothing.
  bool Wrapped;
  bool Ended;  // a SUB ended the text
};

// Makes `screen` fresh: every cell blank, the cursor and the saved position
// at the top left, the default colours.
void StartScreen(Screen& screen);

// Plays one line of text of code page `page` (at most 255 bytes) on the
// screen; an escape still unfinished at its end is dropped.
void SendLine(Screen& screen, std::string_view line, CodePage page);

// The end of a description line: the cursor to the start of the next row,
// unless the last thing that counted was a wrap.
void SendLineEnd(Screen& screen);

// Cuts each row after its last cell that is not a blank in the default
// colours, and gives the number of rows up to the last that keeps a cell.
// Nothing more may be sent until the screen is started again.
int FinishScreen(Screen& screen);

// The most bytes that RenderRow writes: a span closed and another opened
// around every cell ("</span><span class=\"fg15 bg15 blink\">" and at most
// six bytes for the character), and the last span's close.
inline constexpr size_t kMostCellBytes =
    std::string_view("</span><span class=\"fg15 bg15 blink\">").size() + 6;
inline constexpr size_t kRenderedRowCapacity =
    kScreenColumns * kMostCellBytes + std::string_view("</span>").size();

// Writes row `row` (from 0) of a finished screen into `out`, which holds
// kRenderedRowCapacity bytes; returns how many bytes it wrote.
size_t RenderRow(const Screen& screen, int row, RenderMode mode, char* out);

#endif  // TEXT_RENDERING_H_
