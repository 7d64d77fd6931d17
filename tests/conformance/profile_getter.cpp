// Calls GetPrivateProfileStringA once for every five arguments and prints each call and what it
// gave, so that Windows (or Wine) and our emulation can be given the same calls and compared.
//   profile_getter SECTION KEY DEFAULT SIZE FILE [SECTION KEY DEFAULT SIZE FILE]...
// "(null)" is NULL; SIZE is the buffer's size, at most 64. A line per call: the call, what it
// returned, and the buffer's bytes, one more than its size (filled with 0xcc before), each byte
// outside printable ASCII as \xNN, a '|' after the returned length and its terminating zero.
#include <algorithm>
#include <cstdlib>

#include "tests/conformance/calls.h"

namespace {

constexpr int kArgumentsPerCall = 5;
constexpr DWORD kLargestBuffer = 64;
constexpr char kPoison = '\xcc';

}  // namespace

int main(int argc, char** argv) {
  using calls::Argument;
  const bool fit = argc > 1 && (argc - 1) % kArgumentsPerCall == 0;
  if (const auto status = calls::Start(fit, "profile_getter SECTION KEY DEFAULT SIZE FILE [...]")) {
    return *status;
  }
  for (char** call = argv + 1; call < argv + argc; call += kArgumentsPerCall) {
    char buffer[kLargestBuffer + 1];
    std::memset(buffer, kPoison, sizeof buffer);
    const DWORD size =
        std::min(static_cast<DWORD>(std::strtoul(call[3], nullptr, 10)), kLargestBuffer);
    const DWORD result = GetPrivateProfileStringA(
        Argument(call[0]), Argument(call[1]), Argument(call[2]), buffer, size, Argument(call[4]));
    std::printf("%s|%s|%s|%s|%s -> %u [", call[0], call[1], call[2], call[3], call[4],
                static_cast<unsigned>(result));
    for (DWORD i = 0; i <= size; ++i) {
      if (i == result + 1) std::putchar('|');
      const auto shown = static_cast<unsigned char>(buffer[i]);
      if (shown >= 0x20 && shown < 0x7f && shown != '\\') {
        std::putchar(shown);
      } else {
        std::printf("\\x%02x", shown);
      }
    }
    std::puts("]");
  }
  return 0;
}
