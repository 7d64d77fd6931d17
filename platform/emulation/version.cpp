// GetVersionExA and GetSystemDirectoryA: which Windows this is and where it keeps its system
// files, from the machine's description.
#include <cstring>

#include "platform/emulation/machine.h"

namespace {

constexpr DWORD kVersionInfoExSize = sizeof(OSVERSIONINFOA) + 8;  // OSVERSIONINFOEXA

}  // namespace

extern "C" BOOL GetVersionExA(LPOSVERSIONINFOA version) {
  if (!emulation::MachineIsOpen()) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  // Windows refuses a record whose size it does not know.
  if (version == nullptr || (version->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                             version->dwOSVersionInfoSize != kVersionInfoExSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const emulation::MachineDescription& machine = emulation::Description();
  if (machine.versionQueryFails) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  version->dwMajorVersion = machine.majorVersion;
  version->dwMinorVersion = machine.minorVersion;
  version->dwBuildNumber = machine.buildNumber;
  version->dwPlatformId = machine.platformId;
  std::memset(version->szCSDVersion, 0, sizeof version->szCSDVersion);
  return TRUE;
}

extern "C" UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (!emulation::MachineIsOpen()) {
    SetLastError(ERROR_NOT_READY);
    return 0;
  }
  const std::string& directory = emulation::Description().systemDirectory;
  const auto length = static_cast<UINT>(directory.size());
  // Too small a buffer gets nothing; the answer is the size it would need.
  if (buffer == nullptr || length + 1 > size) return length + 1;
  std::memcpy(buffer, directory.c_str(), length + 1);
  return length;
}
