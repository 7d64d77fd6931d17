// What the setup and the remover ask Windows alike: its family, and the path of a decoder in its
// system directory. Static, so that each program's file holds its own copy and the compiler
// folds it into its one caller, keeping both programs within their size.
#pragma once

#include "platform/win32.h"
#include "registration/text.h"

// The path buffer: the system directory, one backslash and an 8.3 file name. 128 bytes hold a
// system directory of up to 114 characters (114 + 1 + 12 + the terminating zero).
constexpr UINT kPathBufferSize = 128;
constexpr char kPathSeparator[] = "\\";

// Builds "<system directory>\<file name>" in path. False when Windows gives no system directory
// or one too long for the buffer, or the path cannot be put together; then path must not be used.
static inline bool BuildSystemDirectoryPath(char (&path)[kPathBufferSize], const char* fileName) {
  const UINT length = GetSystemDirectoryA(path, kPathBufferSize);
  // 0 is a failure; the buffer size or more means "too small", and nothing was written.
  if (length == 0 || length >= kPathBufferSize) return false;
  // lstrcatA does not bound its copy: measure what is really there before appending. A buffer
  // without a terminating zero measures as full.
  const std::size_t used = TextLengthWithin(path);
  if (used + TextLength(kPathSeparator) + TextLength(fileName) >= kPathBufferSize) return false;
  // lstrcatA answers NULL when it fails; the path then is not the one wanted.
  return lstrcatA(path, kPathSeparator) != nullptr && lstrcatA(path, fileName) != nullptr;
}

enum WindowsFamily : int {
  kNtFamily,
  k95Family,
  kNeitherFamily,  // Win32s, another platform, or the version query failed
};

static inline WindowsFamily FindWindowsFamily() {
  OSVERSIONINFOA version;
  static_assert(sizeof version == 148, "Windows checks the record's size");
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return kNeitherFamily;
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
      return k95Family;
    case VER_PLATFORM_WIN32_NT:
      return kNtFamily;
    default:
      return kNeitherFamily;
  }
}
