#include "system/fatal.h"

#include <unistd.h>

#include <cstdint>

#include "system/console.h"
#include "system/file_io.h"
#include "text/short_text.h"
#include "text/text_helpers.h"

// Where the linker put the program's code: the load address and the end of
// the text. Locations are reported relative to the first, so that
// `addr2line -e pellidor 0x...` names the line.
extern "C" char __executable_start[];
extern "C" char etext[];

namespace {

constexpr int kMaxLocations = 16;

bool InProgramText(uintptr_t address) {
  return address >= reinterpret_cast<uintptr_t>(__executable_start) &&
         address < reinterpret_cast<uintptr_t>(etext);
}

// "0x" and 8 upper-case hexadecimal digits.
void AppendLocation(ShortText& text, uintptr_t return_address) {
  // The return address may already lie in the next function after a call
  // that never returns; one byte back is inside the call instruction.
  uint32_t location = static_cast<uint32_t>(
      return_address - 1 - reinterpret_cast<uintptr_t>(__executable_start));
  char digits[10] = {'0', 'x'};
  for (int i = 0; i < 8; ++i) {
    digits[2 + i] = "0123456789ABCDEF"[(location >> (28 - 4 * i)) & 0xF];
  }
  AppendBytes(text, digits, sizeof digits);
}

// Return addresses of the calls that led to `frame`, innermost first, found
// by walking the frame-pointer chain for as long as it stays in the program.
int CallerAddresses(uintptr_t* frame, uintptr_t (&addresses)[kMaxLocations]) {
  int count = 0;
  while (frame != nullptr && count < kMaxLocations) {
    uintptr_t return_address = frame[1];
    if (!InProgramText(return_address)) break;
    addresses[count++] = return_address;
    auto* caller = reinterpret_cast<uintptr_t*>(frame[0]);
    // A frame further up the stack lies higher; anything else is no frame.
    if (caller <= frame || caller - frame > (1 << 20)) break;
    frame = caller;
  }
  return count;
}

void WriteReportLine(const ShortText& line) {
  ShortText with_end = line;
  AppendText(with_end, "\n");
  (void)WriteAll(kStandardOutput, with_end.Bytes, with_end.Length);
}

}  // namespace

__attribute__((noinline)) void FatalIoError(int code) {
  uintptr_t addresses[kMaxLocations];
  int count = CallerAddresses(
      static_cast<uintptr_t*>(__builtin_frame_address(0)), addresses);
  TakeDownConsole();
  ShortText heading;
  AppendText(heading, "Runtime error ");
  AppendText(heading, View(DecimalText(code)));
  AppendText(heading, " at ");
  if (count > 0) AppendLocation(heading, addresses[0]);
  WriteReportLine(heading);
  for (int i = 0; i < count; ++i) {
    ShortText line;
    AppendText(line, "  ");
    AppendLocation(line, addresses[i]);
    WriteReportLine(line);
  }
  WriteReportLine(ShortText{});
  // _exit, not exit: the page's unwritten buffer must be lost.
  _exit(code);
}
