// Opens a key below HKEY_LOCAL_MACHINE for writing, sets REG_SZ values through it and closes it,
// as the setup's registrar does, and prints each call's result, so that Windows (or Wine) and our
// emulation can be given the same calls and compared.
//   registry_writer SUBKEY [NAME DATA]...
// A line per call: "open SUBKEY -> R" (with what became of the handle when it failed),
// "set NAME=DATA -> R", "close -> R".
#include <cstdint>

#include "tests/conformance/calls.h"

namespace {

// What the handle holds before the call, so that a failed open shows whether it was touched.
const HKEY kPoison = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0xdeadbeefu));

const char* HandleAfterFailure(HKEY key) {
  if (key == nullptr) return "NULL";
  return key == kPoison ? "untouched" : "set";
}

}  // namespace

int main(int argc, char** argv) {
  const bool fit = argc >= 2 && argc % 2 == 0;
  if (const auto status = calls::Start(fit, "registry_writer SUBKEY [NAME DATA]...")) {
    return *status;
  }
  HKEY key = kPoison;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_WRITE, &key);
  std::printf("open %s -> %d", argv[1], static_cast<int>(opened));
  if (opened != ERROR_SUCCESS) {
    std::printf(", handle %s\n", HandleAfterFailure(key));
    return 0;
  }
  std::putchar('\n');
  for (char** value = argv + 2; value < argv + argc; value += 2) {
    // The byte count holds the terminating zero, as the setup's does.
    const LONG set = RegSetValueExA(key, value[0], 0, REG_SZ, reinterpret_cast<BYTE*>(value[1]),
                                    static_cast<DWORD>(std::strlen(value[1]) + 1));
    std::printf("set %s=%s -> %d\n", value[0], value[1], static_cast<int>(set));
  }
  std::printf("close -> %d\n", static_cast<int>(RegCloseKey(key)));
  return 0;
}
