// What the programs that make Windows calls for the conformance tests share. Each source is
// built twice: for Windows, where the calls go to Windows (or Wine), and natively, where they go
// to the emulated machine VORN_MACHINE names.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/win32.h"
#ifndef _WIN32
#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"
#endif

namespace calls {

inline constexpr int kUsageStatus = 100;
inline constexpr DWORD kSentinel = 0xdeadbeef;  // a stale last error shows as this

// "(null)" on the command line stands for NULL.
inline const char* Argument(const char* text) {
  return std::strcmp(text, "(null)") == 0 ? nullptr : text;
}

// Nothing when the calls can be made: the machine is there (off Windows) and the arguments fit.
// Otherwise the status to end with, the usage on standard error when the arguments do not fit.
inline std::optional<int> Start(bool argumentsFit, const char* usage) {
#ifndef _WIN32
  if (!emulation::OpenMachineFromEnvironment()) return emulation::kNoMachineStatus;
#endif
  if (argumentsFit) return std::nullopt;
  std::fprintf(stderr, "usage: %s\n", usage);
  return kUsageStatus;
}

// Ends a call's line, with the last error after a failure: after a success Windows leaves the
// last error as it happens to be.
inline void EndLine(BOOL result) {
  if (result == FALSE) std::printf(" error %u", static_cast<unsigned>(GetLastError()));
  std::putchar('\n');
}

}  // namespace calls
