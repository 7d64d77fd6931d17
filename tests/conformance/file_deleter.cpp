// Calls DeleteFileA on each argument and prints each call and its result, so that Windows (or
// Wine) and our emulation can be given the same calls and compared.
//   file_deleter PATH...       "(null)" is NULL
// A line per call: "PATH -> 1", or "PATH -> 0 error N" when it failed.
#include "tests/conformance/calls.h"

int main(int argc, char** argv) {
  if (const auto status = calls::Start(argc >= 2, "file_deleter PATH...")) return *status;
  for (int i = 1; i < argc; ++i) {
    SetLastError(calls::kSentinel);
    const BOOL result = DeleteFileA(calls::Argument(argv[i]));
    std::printf("%s -> %d", argv[i], static_cast<int>(result));
    calls::EndLine(result);
  }
  return 0;
}
