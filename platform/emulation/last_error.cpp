// The calling thread's last error, where each operation leaves the reason it failed.
#include "platform/win32.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

extern "C" DWORD GetLastError(void) {
  return lastError;
}
extern "C" void SetLastError(DWORD error) {
  lastError = error;
}
