// Windows' rules for files over the host's: names without regard to case, rights.
#include "platform/emulation/windows_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/emulation/ascii.h"
#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"

namespace emulation {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// One step into folder; where links are refused the kernel is told so, and that none leads out.
int OpenStep(int folder, const std::string& name, Links links) {
  static bool withOpenat2 = true;
  open_how how{};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  if (links == Links::kRefused && withOpenat2) {
    const long fd = syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
    withOpenat2 = false;
  }
  return ::openat(folder, name.c_str(), kFolderFlags | (links == Links::kRefused ? O_NOFOLLOW : 0));
}

}  // namespace

std::string FindName(int folder, std::string_view name) {
  const std::string exact(name);
  if (TypeOf(folder, exact) != 0) return exact;
  std::string found;
  ForEachName(folder, [&](const char* entry) {
    // Of several names differing only in case, take the same one every time.
    if (EqualsIgnoringCase(entry, exact) && (found.empty() || found > entry)) found = entry;
  });
  return found.empty() ? exact : found;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

UniqueFd OpenBeneath(int root, const std::vector<std::string>& names, Links links, DWORD* error,
                     Walk* walk) {
  *walk = Walk();
  UniqueFd folder(::openat(root, ".", kFolderFlags));
  for (auto name = names.begin(); folder && name != names.end(); ++name) {
    const bool plain = IsPlainName(*name);
    const std::string found = plain ? FindName(folder.get(), *name) : *name;
    walk->path += (walk->path.empty() ? "" : "/") + found;
    UniqueFd step(plain ? OpenStep(folder.get(), found, links) : -1);
    // A link is told apart from a missing folder by what stands there, whatever the kernel said.
    walk->refused =
        !plain || (!step && links == Links::kRefused && TypeOf(folder.get(), found) == S_IFLNK);
    folder = std::move(step);
  }
  // A missing folder on the way is "path not found", as on Windows; so is one not followed.
  if (!folder) {
    *error = walk->refused || errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                                  : WindowsError(errno);
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
