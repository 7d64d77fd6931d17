// Windows' rules for files over the host's: names without regard to case, rights.
#include "platform/emulation/windows_files.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>

#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"

namespace emulation {

std::string FindName(int folder, std::string_view name) {
  const std::string exact(name);
  struct stat status;
  if (fstatat(folder, exact.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) return exact;
  std::string found;
  ForEachName(folder, [&](const char* entry) {
    // Of several names differing only in case, take the same one every time.
    if (strcasecmp(entry, exact.c_str()) == 0 && (found.empty() || found > entry)) found = entry;
  });
  return found.empty() ? exact : found;
}

UniqueFd OpenFolder(int base, const std::vector<std::string>& names, bool followLinks,
                    DWORD* error) {
  UniqueFd folder(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
  for (const std::string& name : names) {
    if (!folder) break;
    const std::string found = FindName(folder.get(), name);
    folder = UniqueFd(
        ::openat(folder.get(), found.c_str(),
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW)));
  }
  if (!folder) {
    // A missing folder on the way is "path not found", as on Windows.
    *error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsError(errno);
  }
  return folder;
}

bool IsReadOnly(const struct stat& status) {
  return (status.st_mode & 0222) == 0;
}

bool MayReplace(int folder, const std::string& name, DWORD* error) {
  struct stat status;
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(status.st_mode) || IsReadOnly(status) ||
        faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
      *error = ERROR_ACCESS_DENIED;
      return false;
    }
  } else if (errno != ENOENT) {
    *error = WindowsError(errno);
    return false;
  }
  if (faccessat(folder, ".", W_OK, AT_EACCESS) != 0) {
    *error = WindowsError(errno);
    return false;
  }
  return true;
}

}  // namespace emulation
