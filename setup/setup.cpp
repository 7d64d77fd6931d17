#include "setup/setup.h"

#include "platform/win32.h"
#include "registration/messages.h"
#include "registration/package.h"
#include "registration/registrars.h"
#include "registration/text.h"

namespace {

// The destination path: the system directory, one backslash and an 8.3 file name. 128 bytes
// hold a system directory of up to 114 characters (114 + 1 + 12 + the terminating zero).
constexpr UINT kPathBufferSize = 128;
constexpr char kPathSeparator[] = "\\";

// How a run ends: the one box it shows and the status it returns. Each ending carries both, so
// the two cannot fall out of step.
struct Outcome {
  const char* text;
  ExitStatus status;
};

constexpr Outcome kComplete = {kCompleteText, kRegistrarRan};
constexpr Outcome kNotComplete = {kNotCompleteText, kRegistrarRan};
constexpr Outcome kInUse = {kInUseText, kSecondCopyFailed};
constexpr Outcome kWrongVersion = {kWrongVersionText, kUnsupportedPlatform};

// Builds "<system directory>\<file name>" in destination. False when Windows gives no system
// directory or one too long for the buffer, or the path cannot be put together; then nothing
// may be copied.
bool BuildDestination(char (&destination)[kPathBufferSize], const char* fileName) {
  const UINT length = GetSystemDirectoryA(destination, kPathBufferSize);
  // 0 is a failure; the buffer size or more means "too small", and nothing was written.
  if (length == 0 || length >= kPathBufferSize) return false;
  // lstrcatA does not bound its copy: measure what is really there before appending. A buffer
  // without a terminating zero measures as full.
  const std::size_t used = TextLengthWithin(destination);
  if (used + TextLength(kPathSeparator) + TextLength(fileName) >= kPathBufferSize) return false;
  // lstrcatA answers NULL when it fails; the path then is not the destination.
  return lstrcatA(destination, kPathSeparator) != nullptr &&
         lstrcatA(destination, fileName) != nullptr;
}

// Copies a decoder from the current directory into the system directory, replacing an older
// copy there.
bool CopyToSystemDirectory(const DecoderFile& file) {
  char destination[kPathBufferSize];
  if (!BuildDestination(destination, file.fileName)) return false;
  return CopyFileA(file.fileName, destination, FALSE) != FALSE;
}

const Outcome& Install() {
  // Whether the first decoder was copied does not matter: the second decides.
  CopyToSystemDirectory(kDecoderFiles[0]);
  if (!CopyToSystemDirectory(kDecoderFiles[1])) return kInUse;

  OSVERSIONINFOA version;
  static_assert(sizeof version == 148, "Windows checks the record's size");
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return kWrongVersion;
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
      return RegisterViaProfile() == kRegistered ? kComplete : kNotComplete;
    case VER_PLATFORM_WIN32_NT:
      return RegisterViaRegistry() == kRegistered ? kComplete : kNotComplete;
    default:
      return kWrongVersion;
  }
}

}  // namespace

ExitStatus RunSetup(int, char**) {
  const Outcome& outcome = Install();
  ShowSetupMessage(outcome.text);
  return outcome.status;
}
