#include "setup/removal.h"

#include "platform/win32.h"
#include "registration/messages.h"
#include "registration/package.h"
#include "registration/unregistrars.h"
#include "setup/system.h"

namespace {

// How a run ends: the one box it shows and the status it returns.
struct Outcome {
  const char* text;
  RemovalStatus status;
};

constexpr Outcome kRemoved = {kRemovedText, kRemoverRan};
constexpr Outcome kNotRemoved = {kNotRemovedText, kRemoverRan};
constexpr Outcome kInUse = {kRemovalInUseText, kDecoderInUse};
constexpr Outcome kWrongVersion = {kWrongVersionText, kRemovalWrongWindows};

// Deletes a decoder from the system directory; one that is not there is deleted already. Never
// later, at a restart: a setup run before it would have its fresh copy deleted then.
bool DeleteFromSystemDirectory(const DecoderFile& file) {
  char path[kPathBufferSize];
  if (!BuildSystemDirectoryPath(path, file.fileName)) return false;
  if (DeleteFileA(path)) return true;
  // Any other failure, above all a decoder that a running program has loaded, keeps the file.
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

int Unregister(WindowsFamily family) {
  return family == kNtFamily ? UnregisterViaRegistry() : UnregisterViaProfile();
}

const Outcome& Remove() {
  const WindowsFamily family = FindWindowsFamily();
  if (family == kNeitherFamily) return kWrongVersion;
  // A file goes only once no registration can name it any more.
  if (Unregister(family) != kUnregistered) return kNotRemoved;
  bool allDeleted = true;
  for (const DecoderFile& file : kDecoderFiles) {
    allDeleted = DeleteFromSystemDirectory(file) && allDeleted;
  }
  return allDeleted ? kRemoved : kInUse;
}

}  // namespace

RemovalStatus RunRemoval(int, char**) {
  const Outcome& outcome = Remove();
  ShowSetupMessage(outcome.text);
  return outcome.status;
}
