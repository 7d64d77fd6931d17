// Calls WritePrivateProfileStringA once for every four arguments and prints each call and its
// result, so that Windows (or Wine) and our emulation can be given the same calls and compared.
//   profile_writer SECTION KEY VALUE FILE [SECTION KEY VALUE FILE]...    "(null)" is NULL
// A line per call: "SECTION|KEY|VALUE|FILE -> 1", or "-> 0 error N" when it failed.
#include "tests/conformance/calls.h"

namespace {

constexpr int kArgumentsPerCall = 4;

}  // namespace

int main(int argc, char** argv) {
  using calls::Argument;
  const bool fit = argc > 1 && (argc - 1) % kArgumentsPerCall == 0;
  if (const auto status =
          calls::Start(fit, "profile_writer SECTION KEY VALUE FILE [SECTION KEY VALUE FILE]...")) {
    return *status;
  }
  for (char** call = argv + 1; call < argv + argc; call += kArgumentsPerCall) {
    SetLastError(calls::kSentinel);
    const BOOL result = WritePrivateProfileStringA(Argument(call[0]), Argument(call[1]),
                                                   Argument(call[2]), Argument(call[3]));
    std::printf("%s|%s|%s|%s -> %d", call[0], call[1], call[2], call[3], static_cast<int>(result));
    calls::EndLine(result);
  }
  return 0;
}
