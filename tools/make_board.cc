// make_board: writes a board's binary files from its plain-text description
// (see tools/board_text.h), for the example board and for benchmarks. Not
// part of the program and not installed.
//
//   make_board DESCRIPTION OUTDIR
//
// writes OUTDIR/korvel.dat and OUTDIR/<base>.dir and OUTDIR/<base>.des for
// every base. Any error is reported on standard error, with exit status 1.
// The board's listdir must end in "/" and, taken from the working directory,
// name OUTDIR: otherwise pellidor, run from here, would not find the list
// files, and nothing is written.

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/board_builder.h"
#include "tools/board_text.h"

namespace {

bool ReadWhole(const char* path, std::string* bytes) {
  FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    bytes->append(buffer, got);
  }
  bool failed = std::ferror(in) != 0;
  std::fclose(in);
  return !failed;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  // fclose reports a write that failed only when the buffer went out.
  return std::fclose(out) == 0 && written;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "make_board: %s: %s\n", what.c_str(),
               std::strerror(errno));
  return 1;
}

// Whether `list_directory` and `out_dir` are the same directory, by device
// and inode; a listdir that is no directory names none.
bool NamesDirectory(const std::string& list_directory, const char* out_dir) {
  struct stat listed;
  struct stat out;
  return stat(list_directory.c_str(), &listed) == 0 &&
         S_ISDIR(listed.st_mode) && stat(out_dir, &out) == 0 &&
         listed.st_dev == out.st_dev && listed.st_ino == out.st_ino;
}

int RefuseListDirectory(const char* description, const std::string& list,
                        const char* out_dir, const char* why) {
  std::fprintf(stderr,
               "make_board: %s: listdir \"%s\"%s OUTDIR \"%s\"; nothing "
               "written\n",
               description, list.c_str(), why, out_dir);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_board DESCRIPTION OUTDIR\n");
    return 1;
  }
  std::string text;
  if (!ReadWhole(argv[1], &text)) return Fail(argv[1]);
  BoardText board;
  std::string error;
  if (size_t line = ParseBoardText(text, &board, &error); line != 0) {
    std::fprintf(stderr, "make_board: %s:%zu: %s\n", argv[1], line,
                 error.c_str());
    return 1;
  }
  const std::string& list = board.ListDirectory;
  if (list.empty() || list.back() != '/') {
    return RefuseListDirectory(argv[1], list, argv[2],
                               " does not end in \"/\", so it cannot name");
  }
  // OUTDIR is made first when it is missing, as a listdir may name it; it
  // goes again when the listdir turns out to name something else.
  const std::string directory = std::string(argv[2]) + "/";
  bool made = mkdir(argv[2], 0777) == 0;
  if (!made && errno != EEXIST) return Fail(argv[2]);
  if (!NamesDirectory(list, argv[2])) {
    if (made) rmdir(argv[2]);
    return RefuseListDirectory(
        argv[1], list, argv[2],
        ", taken from the working directory, does not name");
  }
  if (!WriteWhole(directory + "korvel.dat",
                  BoardConfigBytes(board.ListDirectory))) {
    return Fail(directory + "korvel.dat");
  }
  for (const TextBase& base : board.Bases) {
    BaseBytes bytes = BuildBase(base.Files);
    if (!WriteWhole(directory + base.Name + ".dir", bytes.Dir)) {
      return Fail(directory + base.Name + ".dir");
    }
    if (!WriteWhole(directory + base.Name + ".des", bytes.Des)) {
      return Fail(directory + base.Name + ".des");
    }
  }
  return 0;
}
