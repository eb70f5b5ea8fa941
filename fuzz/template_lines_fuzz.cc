// Reads arbitrary bytes as a template, once from a regular file and once from
// a pipe that hands them over in packets of a chosen size, and checks that
// both give the same lines as a plain splitting of the bytes.
//
// Input: byte 0 chooses the packet size; byte 1 repeats the body 1 to 32
// times, up to 1 KiB, so that long lines cross the reader's buffer (128
// bytes in this build) again and again; the rest is the body.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "listing/template_lines.h"

namespace {

// Each packet takes a page of the pipe, and a read takes no more than the
// reader's buffer of a packet, dropping the rest: packets are at most that
// big, and few enough to fit the pipe.
constexpr size_t kMaxPackets = 8;
constexpr size_t kMaxTemplateSize = kMaxPackets * kTemplateBufferSize;

// Checks that the template at `path` gives the lines of `bytes`: a line ends
// at LF, CR LF or a lone CR, a line end as the last bytes starts no further
// line, and a line keeps its first 255 bytes.
void CheckLines(const ShortText& path, bool regular, std::string_view bytes) {
  TemplateReader reader;
  FUZZ_CHECK(OpenTemplate(path, reader) == 0 && reader.Regular == regular);
  for (size_t start = 0;;) {
    ShortText line;
    bool has_line = false;
    FUZZ_CHECK(ReadTemplateLine(reader, &line, &has_line) == 0);
    FUZZ_CHECK(has_line == (start < bytes.size()));
    if (!has_line) break;
    size_t end = std::min(bytes.find_first_of("\r\n", start), bytes.size());
    FUZZ_CHECK(View(line) == bytes.substr(start, std::min<size_t>(end - start, 255)));
    start = end + 1 + (bytes.substr(end, 2) == "\r\n");
  }
  CloseTemplate(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view body(reinterpret_cast<const char*>(data + 2),
                        std::min(size - 2, kMaxTemplateSize));
  std::string bytes(body);
  for (int i = data[1] % 32; i > 0 && bytes.size() + body.size() <= kMaxTemplateSize; --i) {
    bytes += body;
  }
  CheckLines(DescriptorPath(MemoryFile(bytes)), true, bytes);

  // A pipe holding the bytes in packets (each read takes at most one), its
  // writing end closed.
  size_t packet = std::clamp(1 + size_t{data[0]} * data[0] / 4,
                             (bytes.size() + kMaxPackets - 1) / kMaxPackets,
                             kTemplateBufferSize);
  int ends[2];
  FUZZ_CHECK(pipe2(ends, O_DIRECT | O_CLOEXEC) == 0);
  for (size_t at = 0; at < bytes.size(); at += packet) {
    std::string_view part = std::string_view(bytes).substr(at, packet);
    FUZZ_CHECK(write(ends[1], part.data(), part.size()) == ssize_t(part.size()));
  }
  close(ends[1]);
  CheckLines(DescriptorPath(ends[0]), false, bytes);
  close(ends[0]);
  return 0;
}
