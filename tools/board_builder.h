#ifndef TOOLS_BOARD_BUILDER_H_
#define TOOLS_BOARD_BUILDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Builds the bytes of board files, for the example board's tool and for the
// tests. Not part of the program, which only reads such files.

// One file of a base as the builder takes it.
struct BoardFile {
  std::string Name;
  int32_t Size = 0;
  uint8_t Flags = 0;
  std::vector<std::string> Description;
};

// The bytes of a korvel.dat of one record whose ListDirectory is
// `list_directory`.
std::string BoardConfigBytes(std::string_view list_directory);

// The 118 bytes of one ".dir" record. The name's length byte is written as
// given (`name_length`, or the name's own length when negative), so that
// damaged records can be built too.
std::string FileListRecordBytes(std::string_view name, int32_t size,
                                uint8_t flags, int32_t description_offset,
                                uint8_t description_lines,
                                int name_length = -1);

// The ".dir" and ".des" bytes of a base: descriptions laid out one after
// the other in the order of the files.
struct BaseBytes {
  std::string Dir;
  std::string Des;
};
BaseBytes BuildBase(const std::vector<BoardFile>& files);

#endif  // TOOLS_BOARD_BUILDER_H_
