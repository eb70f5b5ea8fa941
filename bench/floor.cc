// floor: makes only the system calls that every listed record must cost,
// for the same board, templates and page as a run of pellidor, and reports
// how long they took. Not part of the program or its tests; bench/run.sh
// builds it and compares pellidor's wall time with this one's.
//
// Usage: floor DIR DES ENTRY ALTERNATE|NONE REFERENCE_PAGE HEADER_LINES OUTPUT
//
// First it reads the ".dir" file (which records are listed, where their
// descriptions lie), as pellidor must. Then it learns what only the
// benchmark knows: both entry templates (how many lines each has and how
// many of them hold "@DESC@"), and pellidor's page REFERENCE_PAGE, whose
// first HEADER_LINES lines come before the list. Timed after that: the
// output page created, the ".des" opened, and for every listed record its
// entry template opened, read with one read and closed, one positioned read
// per "@DESC@" line, and its part of the page put into a 256-byte buffer that
// is written each time it fills. Prints "WALL_SECONDS CPU_SECONDS" of the
// timed part, and to standard error the wall and CPU seconds spent learning
// what only the benchmark knows and giving back the memory that held it: a
// run timed from outside, as pellidor's are, less those, is the floor's
// whole run, its start and exit included.

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kRecordSize = 118;
constexpr size_t kPageBlockSize = 256;

struct Template {
  std::string Path;
  int Lines = 0;
  int DescLines = 0;  // lines that hold "@DESC@" in any letter case
};

struct Page {
  int Fd = -1;
  size_t Used = 0;
  char Buffer[kPageBlockSize];
};

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::exit(2);
}

std::string ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail(path.c_str());
  std::string bytes;
  char chunk[65536];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) Fail(path.c_str());
    if (got == 0) break;
    bytes.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  return bytes;
}

// Plain LF lines, as bench/run.sh writes its templates.
Template LoadTemplate(const std::string& path) {
  Template t;
  t.Path = path;
  std::string bytes = ReadWholeFile(path);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string upper = bytes.substr(start, end - start);
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    ++t.Lines;
    if (upper.find("@DESC@") != std::string::npos) ++t.DescLines;
    start = end + 1;
  }
  return t;
}

// The offset just past the `lines` lines that start at `from`.
size_t SkipLines(const std::string& page, size_t from, int lines) {
  for (int i = 0; i < lines; ++i) {
    size_t end = page.find('\n', from);
    if (end == std::string::npos) Fail("reference page ends too soon");
    from = end + 1;
  }
  return from;
}

void WriteBlock(Page& page) {
  if (page.Used == 0) return;
  if (::write(page.Fd, page.Buffer, page.Used) !=
      static_cast<ssize_t>(page.Used)) {
    Fail("write");
  }
  page.Used = 0;
}

void PutBytes(Page& page, const char* bytes, size_t count) {
  while (count > 0) {
    size_t taken = std::min(count, kPageBlockSize - page.Used);
    std::memcpy(page.Buffer + page.Used, bytes, taken);
    page.Used += taken;
    bytes += taken;
    count -= taken;
    if (page.Used == kPageBlockSize) WriteBlock(page);
  }
}

double Seconds(const timespec& t) { return t.tv_sec + t.tv_nsec / 1e9; }

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
         usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: floor DIR DES ENTRY ALTERNATE|NONE REFERENCE_PAGE "
                 "HEADER_LINES OUTPUT\n");
    return 2;
  }
  // Where the description of each listed record lies, from the ".dir" file
  // read as pellidor reads it: 512 records a read, into one buffer.
  std::vector<int32_t> offsets;
  int dir = ::open(argv[1], O_RDONLY);
  if (dir < 0) Fail(argv[1]);
  static uint8_t records[512 * kRecordSize];
  for (;;) {
    ssize_t got = ::read(dir, records, sizeof records);
    if (got < 0) Fail(argv[1]);
    if (got == 0) break;
    for (size_t r = 0; r + kRecordSize <= size_t(got); r += kRecordSize) {
      const uint8_t* raw = records + r;
      if ((raw[110] & 4) != 0) continue;
      offsets.push_back(static_cast<int32_t>(
          uint32_t{raw[111]} | uint32_t{raw[112]} << 8 |
          uint32_t{raw[113]} << 16 | uint32_t{raw[114]} << 24));
    }
  }
  ::close(dir);

  timespec known_start;
  clock_gettime(CLOCK_MONOTONIC, &known_start);
  double known_cpu_start = CpuSeconds();
  const char* des_path = argv[2];
  Template templates[2] = {LoadTemplate(argv[3]), Template{}};
  bool has_alternate = std::strcmp(argv[4], "NONE") != 0;
  if (has_alternate) templates[1] = LoadTemplate(argv[4]);
  std::string reference = ReadWholeFile(argv[5]);
  int header_lines = std::atoi(argv[6]);
  const char* output_path = argv[7];

  // Each listed record: which template, where its description lies, and
  // where its part of the page ends.
  struct Listed {
    int Template;
    int32_t DescriptionOffset;
    size_t PageEnd;
  };
  std::vector<Listed> listed;
  size_t header_end = SkipLines(reference, 0, header_lines);
  size_t at = header_end;
  bool alternate = false;
  for (int32_t offset : offsets) {
    int chosen = alternate && has_alternate ? 1 : 0;
    alternate = chosen == 0;
    at = SkipLines(reference, at, templates[chosen].Lines);
    listed.push_back({chosen, offset, at});
  }

  timespec start, end;
  double cpu_start = CpuSeconds();
  clock_gettime(CLOCK_MONOTONIC, &start);
  double known_wall = Seconds(start) - Seconds(known_start);
  double known_cpu = cpu_start - known_cpu_start;

  Page page;
  page.Fd = ::open(output_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (page.Fd < 0) Fail(output_path);
  int des = ::open(des_path, O_RDONLY);
  if (des < 0) Fail(des_path);
  PutBytes(page, reference.data(), header_end);
  size_t written = header_end;
  static char template_buffer[16384];
  static char description_block[4096];
  for (const Listed& record : listed) {
    const Template& t = templates[record.Template];
    int fd = ::open(t.Path.c_str(), O_RDONLY);
    if (fd < 0) Fail(t.Path.c_str());
    if (::read(fd, template_buffer, sizeof template_buffer) < 0) Fail("read");
    ::close(fd);
    for (int d = 0; d < t.DescLines; ++d) {
      if (::pread(des, description_block, sizeof description_block,
                  record.DescriptionOffset) < 0) {
        Fail("pread");
      }
    }
    PutBytes(page, reference.data() + written, record.PageEnd - written);
    written = record.PageEnd;
  }
  PutBytes(page, reference.data() + written, reference.size() - written);
  WriteBlock(page);
  ::close(des);
  ::close(page.Fd);

  clock_gettime(CLOCK_MONOTONIC, &end);
  double end_cpu = CpuSeconds();
  std::printf("%.6f %.6f\n", Seconds(end) - Seconds(start),
              end_cpu - cpu_start);
  // Giving back the memory that held what was learned is part of learning
  // it: the page alone is as large as the page written.
  std::string().swap(reference);
  std::vector<Listed>().swap(listed);
  timespec given_back;
  clock_gettime(CLOCK_MONOTONIC, &given_back);
  std::fprintf(stderr, "%.6f %.6f\n",
               known_wall + Seconds(given_back) - Seconds(end),
               known_cpu + CpuSeconds() - end_cpu);
  return 0;
}
