// Where a Windows path leads on the host: the machine's drive C:, or the current directory.
#include <fcntl.h>

#include "platform/emulation/machine.h"
#include "platform/emulation/windows_files.h"
#include "platform/emulation/windows_path.h"

namespace emulation {

std::optional<Location> Locate(std::string_view windowsPath, DWORD* error) {
  if (windowsPath.size() > kMaxPath) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return std::nullopt;
  }
  std::optional<WindowsPath> path = ParseWindowsPath(windowsPath);
  if (!path) {
    *error = ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  if (path->names.empty()) {
    *error = ERROR_ACCESS_DENIED;  // the root of a drive is a folder, not a file
    return std::nullopt;
  }
  const std::string last = path->names.back();
  path->names.pop_back();
  // Inside the machine no symbolic link is followed, so none can lead out of it.
  const bool insideMachine = path->onDriveC;
  UniqueFd folder =
      OpenFolder(insideMachine ? DriveFolder() : AT_FDCWD, path->names, !insideMachine, error);
  if (!folder) return std::nullopt;
  std::string name = FindName(folder.get(), last);
  return Location{std::move(folder), std::move(name), insideMachine};
}

}  // namespace emulation
