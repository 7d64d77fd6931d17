// Calls DeleteFileA on each argument and prints each call and its result, so that Windows (or
// Wine) and our emulation can be given the same calls and compared.
//   file_deleter PATH...       "(null)" is NULL
// A line per call: "PATH -> 1", or "PATH -> 0 error N" when it failed.
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#ifndef _WIN32
#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"
#endif

namespace {

constexpr char kNull[] = "(null)";
constexpr int kUsageStatus = 100;
constexpr DWORD kSentinel = 0xdeadbeef;  // a stale last error shows as this

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  if (!emulation::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
#endif
  if (argc < 2) {
    std::fputs("usage: file_deleter PATH...\n", stderr);
    return kUsageStatus;
  }
  for (int i = 1; i < argc; ++i) {
    SetLastError(kSentinel);
    const BOOL result = DeleteFileA(std::strcmp(argv[i], kNull) == 0 ? nullptr : argv[i]);
    std::printf("%s -> %d", argv[i], static_cast<int>(result));
    if (result == FALSE) std::printf(" error %u", static_cast<unsigned>(GetLastError()));
    std::putchar('\n');
  }
  return 0;
}
