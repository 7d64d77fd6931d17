// Calls WritePrivateProfileStringA once for every four arguments and prints each call and its
// result, so that Windows (or Wine) and our emulation can be given the same calls and compared.
//   profile_writer SECTION KEY VALUE FILE [SECTION KEY VALUE FILE]...    "(null)" is NULL
// A line per call: "SECTION|KEY|VALUE|FILE -> 1", or "-> 0 error N" when it failed.
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#ifndef _WIN32
#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"
#endif

namespace {

constexpr char kNull[] = "(null)";
constexpr int kArgumentsPerCall = 4;
constexpr int kUsageStatus = 100;
constexpr DWORD kSentinel = 0xdeadbeef;  // a stale last error shows as this

LPCSTR Argument(const char* text) {
  return std::strcmp(text, kNull) == 0 ? nullptr : text;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  if (!emulation::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
#endif
  if (argc < 1 + kArgumentsPerCall || (argc - 1) % kArgumentsPerCall != 0) {
    std::fputs("usage: profile_writer SECTION KEY VALUE FILE [SECTION KEY VALUE FILE]...\n",
               stderr);
    return kUsageStatus;
  }
  for (char** call = argv + 1; call < argv + argc; call += kArgumentsPerCall) {
    SetLastError(kSentinel);
    const BOOL result = WritePrivateProfileStringA(Argument(call[0]), Argument(call[1]),
                                                   Argument(call[2]), Argument(call[3]));
    std::printf("%s|%s|%s|%s -> %d", call[0], call[1], call[2], call[3], static_cast<int>(result));
    // After a success Windows leaves the last error as it happens to be: only a failure's counts.
    if (result == FALSE) std::printf(" error %u", static_cast<unsigned>(GetLastError()));
    std::putchar('\n');
  }
  return 0;
}
