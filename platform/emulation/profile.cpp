// WritePrivateProfileStringA over profile files in the machine, "system.ini" among them. Each
// write is saved at once, atomically and under the lock of the file's folder, and changes only
// the line it has to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/profile_text.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"

namespace emulation {
namespace {

constexpr char kDefaultProfile[] = "win.ini";  // what Windows writes when given no file name
constexpr mode_t kNewFileMode = 0644;

// A file name without a full path lives in the Windows directory.
std::string ProfilePath(LPCSTR fileName) {
  const std::string name = fileName != nullptr ? fileName : kDefaultProfile;
  const bool fullPath = (name.size() >= 2 && name[1] == ':') ||
                        (!name.empty() && (name[0] == '\\' || name[0] == '/'));
  return fullPath ? name : Description().windowsDirectory + "\\" + name;
}

std::optional<std::string> Edit(std::string_view text, LPCSTR section, LPCSTR key, LPCSTR value) {
  if (key == nullptr) return DeleteProfileSection(text, section);
  if (value == nullptr) return DeleteProfileKey(text, section, key);
  return SetProfileString(text, section, key, value);
}

// Edits the profile in its folder, under that folder's lock.
bool WriteIn(const Location& file, LPCSTR section, LPCSTR key, LPCSTR value, DWORD* error) {
  const int folder = file.folder.get();
  FolderLock lock(folder);
  if (!MayReplace(folder, file.name, error)) return false;
  struct stat status;
  const bool exists = fstatat(folder, file.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) {
    *error = WindowsError(errno);
    return false;
  }
  std::string text;
  if (exists && !ReadWholeFile(folder, file.name, &text, error)) return false;
  const std::optional<std::string> edited = Edit(text, section, key, value);
  if (!edited) {
    *error = ERROR_INVALID_PARAMETER;  // no profile line can hold these strings
    return false;
  }
  if (*edited == text && (exists || edited->empty())) return true;  // nothing to write
  return ReplaceFile(folder, file.name, exists ? status.st_mode : kNewFileMode, *edited, error);
}

bool Write(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName, DWORD* error) {
  if (!MachineIsOpen()) {
    *error = ERROR_NOT_READY;
    return false;
  }
  if (section == nullptr) {
    *error = ERROR_FILE_NOT_FOUND;  // Windows' answer, without touching the file
    return false;
  }
  const std::string path = ProfilePath(fileName);
  const std::optional<Location> file = Locate(path, error);
  if (file && WriteIn(*file, section, key, value, error)) return true;
  // Windows' box says no more than that the registry was not updated.
  if (*error != ERROR_INVALID_PARAMETER) {
    ReportMachineFault("cannot change " +
                       Quoted(file ? HostPath(file->folder.get(), file->name) : path) + ": " +
                       ErrorText(*error));
  }
  return false;
}

// What opening the file to flush it says: nothing is cached here, but a caller that reads the
// last error after a flush learns, as from Windows, whether the file could be opened.
DWORD FlushError(LPCSTR fileName) {
  if (!MachineIsOpen()) return ERROR_NOT_READY;
  DWORD error = ERROR_SUCCESS;
  const std::optional<Location> file = Locate(ProfilePath(fileName), &error);
  if (!file) return error;
  struct stat status;
  if (fstatat(file->folder.get(), file->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return WindowsError(errno);
  }
  return S_ISDIR(status.st_mode) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace
}  // namespace emulation

extern "C" BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                           LPCSTR fileName) {
  // The all-null call flushes Windows' cached copy. Every write here is already on disk, and
  // Windows documents FALSE as this call's answer. Without a file name there is nothing to open
  // and the last error stays as it was.
  if (section == nullptr && key == nullptr && value == nullptr) {
    if (fileName != nullptr) SetLastError(emulation::FlushError(fileName));
    return FALSE;
  }
  DWORD error = ERROR_SUCCESS;
  if (!emulation::Write(section, key, value, fileName, &error)) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
