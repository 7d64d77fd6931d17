// lstrcatA, as kernel32 has it: no bound on the copy, which the caller must keep in its buffer.
#include <cstring>

#include "platform/win32.h"

extern "C" LPSTR lstrcatA(LPSTR destination, LPCSTR text) {
  // Windows returns NULL instead of faulting on a missing string.
  if (destination == nullptr || text == nullptr) return nullptr;
  return std::strcat(destination, text);
}
