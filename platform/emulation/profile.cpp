// GetPrivateProfileStringA and WritePrivateProfileStringA over profile files in the machine,
// "system.ini" among them. Each write is saved at once, atomically and under the lock of the
// file's folder, and changes only the line it has to; a read sees the file as one write left it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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

// The profile's text; nothing when there is none to read. A file that is not there reads as an
// empty profile, as on Windows; one that cannot be read is told.
std::optional<std::string> ReadProfile(LPCSTR fileName) {
  DWORD error = ERROR_SUCCESS;
  const std::string path = ProfilePath(fileName);
  const std::optional<Location> file = Locate(path, &error);
  std::string text;
  if (file && ReadWholeFile(file->folder.get(), file->name, &text, &error)) return text;
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    ReportMachineFault("cannot read " +
                       Quoted(file ? HostPath(file->folder.get(), file->name) : path) + ": " +
                       (file ? WhyUnreadable(file->folder.get(), file->name) : ErrorText(error)));
  }
  return std::nullopt;
}

// Copies text into buffer as Windows does, cut to size - 1 characters and a terminating zero;
// the characters copied.
DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size) {
  const auto length = static_cast<DWORD>(std::min<std::size_t>(text.size(), size - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

// A list cut to the buffer ends with two zeros, as Windows documents (Wine writes the first).
DWORD CutList(std::string_view list, LPSTR buffer, DWORD size) {
  CopyOut(list, buffer, size);
  buffer[size - 1] = '\0';
  return size >= 2 ? size - 2 : 0;
}

// Section names as Windows lists them: each with its zero, then one more; a list that does not
// fit ends with the part of a name that does.
DWORD ListSections(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  std::string list;
  std::size_t room = size - 1;
  for (const std::string& name : names) {
    if (name.size() + 1 >= room) {
      if (room > 0) list.append(name, 0, room - 1);
      return CutList(list, buffer, size);
    }
    list.append(name).push_back('\0');
    room -= name.size() + 1;
  }
  return CopyOut(list, buffer, size);  // the last zero written makes the second
}

// Key names as Windows lists them, cut the same way as a key at a time; nothing when not even
// the first one fits, and the default is given instead.
std::optional<DWORD> ListKeys(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  std::string list;
  std::size_t room = size;
  for (const std::string& name : names) {
    if (room <= 2) break;
    const std::size_t taken = std::min(name.size(), room - 2);
    list.append(name, 0, taken).push_back('\0');
    room -= taken + 1;
    if (room < 2) break;
  }
  if (list.empty() || list[0] == '\0') return std::nullopt;
  if (room <= 1) return CutList(std::string_view(list).substr(0, size - 2), buffer, size);
  return CopyOut(list, buffer, size);
}

// Without a section, the sections' names; without a key, the section's keys' names, or the
// default when it has none; else the key's value, or the default.
DWORD Get(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size, LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  const std::optional<std::string> text = MachineIsOpen() ? ReadProfile(fileName) : std::nullopt;
  if (section == nullptr) {
    return ListSections(text ? ProfileSectionNames(*text) : std::vector<std::string>(), buffer,
                        size);
  }
  if (key == nullptr && text) {
    if (const std::optional<DWORD> listed = ListKeys(ProfileKeyNames(*text, section), buffer, size))
      return *listed;
  }
  const std::optional<std::string> value =
      key != nullptr && text ? GetProfileString(*text, section, key) : std::nullopt;
  return CopyOut(value ? *value : ProfileDefault(fallback != nullptr ? fallback : ""), buffer,
                 size);
}

}  // namespace
}  // namespace emulation

extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer,
                                          DWORD size, LPCSTR fileName) {
  return emulation::Get(section, key, fallback, buffer, size, fileName);
}

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
