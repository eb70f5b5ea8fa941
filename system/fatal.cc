#include "system/fatal.h"

#include <link.h>
#include <unistd.h>
#include <unwind.h>

#include <cstdint>
#include <string_view>

#include "system/console.h"
#include "text/short_text.h"
#include "text/text_helpers.h"

// Where the linker put the program's own code: the start of the executable
// and the end of its text, as the running process sees them.
extern "C" char __executable_start[];
extern "C" char etext[];
// The program's entry point, by its symbol name: the report ends with the
// call in it, since what lies beyond is the C library's start-up code, which
// a fully static executable carries in its own text.
extern "C" char ProgramMain[] __asm__("main");

namespace {

constexpr int kMaxLocations = 16;

// Return addresses of the calls that led to the report, innermost first;
// the first is inside the fatal path itself.
struct CallChain {
  uintptr_t Addresses[kMaxLocations + 1];
  int Count = 0;
};

// Clears the bit that marks a Thumb address on 32-bit ARM; function and call
// addresses on every supported machine are at least 2-aligned otherwise.
uintptr_t CodeAddress(uintptr_t address) { return address & ~uintptr_t{1}; }

// True for an address in the program's own code.
bool InProgramText(uintptr_t address) {
  return address >= reinterpret_cast<uintptr_t>(__executable_start) &&
         address < reinterpret_cast<uintptr_t>(etext);
}

// Takes one frame from the unwinder: its return address while the chain is
// still in the program, and stops the walk after main's frame.
_Unwind_Reason_Code AddFrame(_Unwind_Context* context, void* chain_pointer) {
  auto& chain = *static_cast<CallChain*>(chain_pointer);
  uintptr_t address = CodeAddress(_Unwind_GetIP(context));
  if (address == 0 || !InProgramText(address)) return _URC_END_OF_STACK;
  chain.Addresses[chain.Count++] = address;
  if (CodeAddress(_Unwind_GetRegionStart(context)) ==
          CodeAddress(reinterpret_cast<uintptr_t>(ProgramMain)) ||
      chain.Count == kMaxLocations + 1) {
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

// How far the program was moved when it was loaded: 0 unless it is
// position-independent. The first object the dynamic linker lists is the
// program itself.
int TakeLoadBias(dl_phdr_info* info, size_t, void* bias) {
  *static_cast<uintptr_t*>(bias) = info->dlpi_addr;
  constexpr int kStopListing = 1;  // any value but 0 ends the listing
  return kStopListing;
}

// Hexadecimal digits of a location: its low 32 bits.
constexpr int kLocationDigits = 8;
constexpr std::string_view kHexPrefix = "0x";

// "0x" and kLocationDigits upper-case hexadecimal digits.
void AppendLocation(ShortText& text, uintptr_t return_address,
                    uintptr_t load_bias) {
  // The return address may already lie in the next function after a call
  // that never returns; one byte back is inside the call instruction.
  uint32_t location = static_cast<uint32_t>(return_address - 1 - load_bias);
  char digits[kLocationDigits];
  for (int i = 0; i < kLocationDigits; ++i) {
    int shift = 4 * (kLocationDigits - 1 - i);  // four bits a digit
    digits[i] = "0123456789ABCDEF"[(location >> shift) & 0xF];
  }
  AppendText(text, kHexPrefix);
  AppendBytes(text, digits, sizeof digits);
}

}  // namespace

__attribute__((noinline)) void ReportFatalIoError(int code) {
  const uintptr_t call_site =
      CodeAddress(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  CallChain chain;
  _Unwind_Backtrace(AddFrame, &chain);
  // The walk starts in this procedure; the report starts at its call. When
  // the unwinder cannot find that frame, the call alone is reported.
  int first = 0;
  while (first < chain.Count && chain.Addresses[first] != call_site) ++first;
  if (first == chain.Count) {
    chain.Addresses[0] = call_site;
    chain.Count = 1;
    first = 0;
  }
  const int last =
      first + kMaxLocations < chain.Count ? first + kMaxLocations : chain.Count;
  uintptr_t load_bias = 0;
  dl_iterate_phdr(TakeLoadBias, &load_bias);

  TakeDownConsole();
  ShortText heading;
  AppendText(heading, "Runtime error ");
  AppendText(heading, View(DecimalText(code)));
  AppendText(heading, " at ");
  AppendLocation(heading, chain.Addresses[first], load_bias);
  WriteConsoleLine(View(heading));
  for (int i = first; i < last; ++i) {
    ShortText line;
    AppendText(line, "  ");
    AppendLocation(line, chain.Addresses[i], load_bias);
    WriteConsoleLine(View(line));
  }
  WriteConsoleLine("");
  // _exit, not exit: the page's unwritten buffer must be lost.
  _exit(code);
}
