// Reads arbitrary bytes as a template, once from a regular file and once from
// a pipe that hands them over in packets of a chosen size, and checks that
// both give the same lines as a plain splitting of the bytes.
//
// Input: byte 0 chooses the packet size; byte 1 repeats the body 1 to 32
// times, so that lines cross the reader's 16384-byte buffer; the rest is the
// body.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "listing/template_lines.h"

namespace {

constexpr size_t kMaxTemplateSize = 256 * 1024;
constexpr size_t kPipeBufferSize = 4096;

// A line ends at LF, CR LF or a lone CR; a line end as the last bytes starts
// no further line; a line keeps its first 255 bytes.
std::vector<std::string> ReferenceLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    lines.emplace_back(bytes.substr(start, std::min<size_t>(end - start, 255)));
    if (end + 1 < bytes.size() && bytes[end] == '\r' &&
        bytes[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  return lines;
}

// Every line of the template at `path`, which must be `regular` or not.
std::vector<std::string> ReadLines(const ShortText& path, bool regular,
                                   size_t size) {
  TemplateReader reader;
  FUZZ_CHECK(OpenTemplate(path, reader) == 0);
  FUZZ_CHECK(reader.Regular == regular);
  std::vector<std::string> lines;
  for (;;) {
    ShortText line;
    bool has_line = false;
    FUZZ_CHECK(ReadTemplateLine(reader, &line, &has_line) == 0);
    if (!has_line) break;
    std::string_view bytes = View(line);
    FUZZ_CHECK(bytes.size() <= 255);
    FUZZ_CHECK(bytes.find_first_of("\r\n") == std::string_view::npos);
    lines.emplace_back(bytes);
    // Each line but the last takes at least its line end.
    FUZZ_CHECK(lines.size() <= size);
  }
  CloseTemplate(reader);
  return lines;
}

// A pipe holding `bytes` in packets of `packet` bytes (each read takes at
// most one), its writing end closed. Returns its reading end.
int PacketPipe(std::string_view bytes, size_t packet) {
  int ends[2];
  FUZZ_CHECK(pipe2(ends, O_DIRECT | O_CLOEXEC) == 0);
  // Everything must fit at once: nobody reads while it is written.
  fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
  int capacity = fcntl(ends[1], F_GETPIPE_SZ);
  FUZZ_CHECK(capacity > 0);
  size_t slots = static_cast<size_t>(capacity) / kPipeBufferSize;
  auto slots_used = [&](size_t n) {
    return (bytes.size() + n - 1) / n *
           ((n + kPipeBufferSize - 1) / kPipeBufferSize);
  };
  while (slots_used(packet) > slots) packet *= 2;
  for (size_t at = 0; at < bytes.size(); at += packet) {
    std::string_view part = bytes.substr(at, packet);
    FUZZ_CHECK(write(ends[1], part.data(), part.size()) ==
               static_cast<ssize_t>(part.size()));
  }
  close(ends[1]);
  return ends[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t packet = 1 + size_t{data[0]} * data[0] / 4;
  int repeats = 1 + data[1] % 32;
  std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string bytes;
  for (int i = 0; i < repeats && bytes.size() + body.size() <= kMaxTemplateSize;
       ++i) {
    bytes += body;
  }
  std::vector<std::string> expected = ReferenceLines(bytes);

  int file = MemoryFile(bytes);
  FUZZ_CHECK(ReadLines(DescriptorPath(file), true, bytes.size()) == expected);
  close(file);

  int fifo = PacketPipe(bytes, packet);
  FUZZ_CHECK(ReadLines(DescriptorPath(fifo), false, bytes.size()) == expected);
  close(fifo);
  return 0;
}
