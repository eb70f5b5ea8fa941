// Reads arbitrary bytes as a template, once from a regular file and once from
// a pipe that hands them over in packets of a chosen size, and checks that
// both give the same lines as a plain splitting of the bytes.
//
// Input: byte 0 chooses the packet size; byte 1 repeats the body 1 to 32
// times, up to 1 KiB, so that long lines cross the reader's buffer (128
// bytes in this build) again and again; the rest is the body.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "listing/template_lines.h"

namespace {

// Each packet takes a page of the pipe, and a read takes no more than the
// reader's buffer of a packet, dropping the rest: packets are at most that
// big, and few enough to fit the pipe as it comes and keep the calls few.
constexpr size_t kMaxPackets = 8;
constexpr size_t kMaxTemplateSize = kMaxPackets * kTemplateBufferSize;

// A line ends at LF, CR LF or a lone CR; a line end as the last bytes starts
// no further line; a line keeps its first 255 bytes.
std::vector<std::string_view> ReferenceLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, std::min<size_t>(end - start, 255)));
    if (end + 1 < bytes.size() && bytes[end] == '\r' &&
        bytes[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  return lines;
}

// Reads the template at `path`, which must be `regular` or not, and checks
// that its lines are `expected`.
void CheckLines(const ShortText& path, bool regular,
                const std::vector<std::string_view>& expected) {
  TemplateReader reader;
  FUZZ_CHECK(OpenTemplate(path, reader) == 0);
  FUZZ_CHECK(reader.Regular == regular);
  size_t count = 0;
  for (;;) {
    ShortText line;
    bool has_line = false;
    FUZZ_CHECK(ReadTemplateLine(reader, &line, &has_line) == 0);
    if (!has_line) break;
    FUZZ_CHECK(count < expected.size());
    FUZZ_CHECK(View(line) == expected[count]);
    ++count;
  }
  FUZZ_CHECK(count == expected.size());
  CloseTemplate(reader);
}

// A pipe holding `bytes` in packets of `packet` bytes or more (each read
// takes at most one), its writing end closed. Returns its reading end.
int PacketPipe(std::string_view bytes, size_t packet) {
  int ends[2];
  FUZZ_CHECK(pipe2(ends, O_DIRECT | O_CLOEXEC) == 0);
  packet = std::clamp(packet, (bytes.size() + kMaxPackets - 1) / kMaxPackets,
                      kTemplateBufferSize);
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
  std::string_view body(reinterpret_cast<const char*>(data + 2),
                        std::min(size - 2, kMaxTemplateSize));
  std::string bytes(body);
  for (int i = 1; i < repeats && bytes.size() + body.size() <= kMaxTemplateSize;
       ++i) {
    bytes += body;
  }
  std::vector<std::string_view> expected = ReferenceLines(bytes);

  int file = MemoryFile(bytes);
  CheckLines(DescriptorPath(file), true, expected);

  int fifo = PacketPipe(bytes, packet);
  CheckLines(DescriptorPath(fifo), false, expected);
  close(fifo);
  return 0;
}
