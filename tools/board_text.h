#ifndef TOOLS_BOARD_TEXT_H_
#define TOOLS_BOARD_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/board_builder.h"

// The plain-text description of a board that make_board turns into board
// files. One statement a line; a keyword and its fields are separated by
// single blanks, and the last field is the rest of the line:
//
//   # a comment; blank lines are ignored too
//   listdir examples/board/       the ListDirectory written into korvel.dat
//   base utils                    starts a base: utils.dir and utils.des
//   file 202574 0 Some Name.ZIP   size (-2147483648..4294967295, kept as
//                                 32 bits), flags (0..255), name (1..70
//                                 bytes, blanks allowed)
//   desc A description line       a line (0..255 bytes) of the last file;
//   desc                          "desc" alone is an empty line
//
// Names and descriptions can state any byte: "\\" is a backslash and
// "\xHH" (two hexadecimal digits, either case) the byte HH, so that "\x1b"
// writes an ESC, "\xc9\xcd\xbb" a code page 437 box top and "\x20" a blank
// that ends a line; any other backslash is an error. Lengths count the bytes
// stated. The listdir and base fields are paths on this machine and are
// taken as written, a backslash as a backslash. A CR before a line's LF is
// dropped. Not part of the program.

// One base of the description, its files in the order given.
struct TextBase {
  std::string Name;
  std::vector<BoardFile> Files;
};

struct BoardText {
  std::string ListDirectory;
  std::vector<TextBase> Bases;
};

// Parses `text` into `*board`. Returns 0, or the number (from 1) of the
// first line in error, with `*error` saying what is wrong with it.
size_t ParseBoardText(std::string_view text, BoardText* board,
                      std::string* error);

#endif  // TOOLS_BOARD_TEXT_H_
