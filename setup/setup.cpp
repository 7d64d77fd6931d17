#include "setup/setup.h"

#include "platform/win32.h"
#include "registration/messages.h"
#include "registration/package.h"
#include "registration/registrars.h"
#include "setup/system.h"

namespace {

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

// Copies a decoder from the current directory into the system directory, replacing an older
// copy there.
bool CopyToSystemDirectory(const DecoderFile& file) {
  char destination[kPathBufferSize];
  if (!BuildSystemDirectoryPath(destination, file.fileName)) return false;
  return CopyFileA(file.fileName, destination, FALSE) != FALSE;
}

const Outcome& Install() {
  // Whether the first decoder was copied does not matter: the second decides.
  CopyToSystemDirectory(kDecoderFiles[0]);
  if (!CopyToSystemDirectory(kDecoderFiles[1])) return kInUse;

  switch (FindWindowsFamily()) {
    case k95Family:
      return RegisterViaProfile() == kRegistered ? kComplete : kNotComplete;
    case kNtFamily:
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
