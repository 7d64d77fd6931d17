// Which Windows a drive holds, from its folders and files alone: where the registry is tells
// the family, SysWOW64 a 64-bit Windows, and the registry or MSDOS.SYS the version.
#include "platform/offline/installation.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/emulation/ascii.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/profile_text.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"

namespace offline {
namespace {

using emulation::EqualsIgnoringCase;
using emulation::HostPath;
using emulation::UniqueFd;

struct Version {
  DWORD major, minor, build;
};

// The folders Windows installs itself in, unless boot.ini or MSDOS.SYS name another.
constexpr const char* kWindowsFolders[] = {"WINDOWS", "WINNT"};
constexpr char kBootIni[] = "boot.ini";  // the NT boot loader's, before Windows Vista
constexpr char kMsDosSys[] = "MSDOS.SYS";
constexpr std::size_t kLongestSettingsFile = 1 << 16;
constexpr char kNtSystem[] = "System32";
constexpr char kWow64System[] = "SysWOW64";
constexpr char kHiveFolder[] = "config";
constexpr char kSoftwareHive[] = "SOFTWARE";
constexpr char k95Registry[] = "SYSTEM.DAT";
constexpr char k95System[] = "SYSTEM";
constexpr char kVersionKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Where the drive does not say: Windows XP, as on the emulated machine, and Windows 95.
constexpr Version kNtVersion = {5, 1, 2600};
constexpr Version k95Version = {4, 0, 950};

bool Is(int folder, const std::string& name, mode_t type) {
  struct stat status;
  return fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         (status.st_mode & S_IFMT) == type;
}

// Opens the folder that names lead to from base, each found without regard to case and none a
// link, and adds each name as found to *windowsPath.
UniqueFd Descend(int base, const std::vector<std::string>& names, std::string* windowsPath) {
  UniqueFd folder(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const std::string& name : names) {
    if (!folder) break;
    const std::string found = emulation::FindName(folder.get(), name);
    folder = UniqueFd(::openat(folder.get(), found.c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    *windowsPath += "\\" + found;
  }
  return folder;
}

// A setting of a settings file in the drive's root (boot.ini, MSDOS.SYS), "" when there is none.
std::string Setting(int drive, const char* file, std::string_view section, std::string_view name) {
  const std::string found = emulation::FindName(drive, file);
  struct stat status;
  std::string text;
  DWORD error = ERROR_SUCCESS;
  if (fstatat(drive, found.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      status.st_size > static_cast<off_t>(kLongestSettingsFile) ||
      !emulation::ReadWholeFile(drive, found, &text, &error)) {
    return "";
  }
  return emulation::GetProfileString(text, section, name).value_or("");
}

std::vector<std::string> Split(std::string_view path) {
  std::vector<std::string> names;
  for (std::size_t begin = 0; begin < path.size();) {
    const std::size_t end = std::min(path.find('\\', begin), path.size());
    if (end > begin) names.emplace_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return names;
}

// The folders that may hold Windows, likeliest first: the one the NT boot loader starts
// ("multi(0)disk(0)rdisk(0)partition(1)\WINNT"), the one MSDOS.SYS names ("C:\WINDOWS"), then
// the usual ones. What lies before the first backslash names the drive.
std::vector<std::vector<std::string>> Candidates(int drive) {
  std::vector<std::vector<std::string>> candidates;
  for (const std::string& path : {Setting(drive, kBootIni, "boot loader", "default"),
                                  Setting(drive, kMsDosSys, "Paths", "WinDir")}) {
    const std::size_t slash = path.find('\\');
    if (slash != std::string::npos && !Split(path.substr(slash)).empty()) {
      candidates.push_back(Split(path.substr(slash)));
    }
  }
  for (const char* folder : kWindowsFolders) candidates.push_back({folder});
  return candidates;
}

// "4.10.2222": as many of the numbers as the text gives, the others as they were.
Version Parsed(const std::string& text, Version version) {
  DWORD* const parts[] = {&version.major, &version.minor, &version.build};
  const char* at = text.c_str();
  for (DWORD* part : parts) {
    char* end;
    const unsigned long number = std::strtoul(at, &end, 10);
    if (end == at) break;
    *part = static_cast<DWORD>(number);
    if (*end != '.') break;
    at = end + 1;
  }
  return version;
}

DWORD LittleEndian(const std::string& bytes) {
  DWORD number = 0;
  for (std::size_t at = bytes.size(); at > 0; --at) {
    number = number << 8 | static_cast<unsigned char>(bytes[at - 1]);
  }
  return number;
}

// The NT family's numbers, from the hive: CurrentVersion "6.3" and CurrentBuildNumber, and
// since Windows 10 CurrentMajorVersionNumber and CurrentMinorVersionNumber beside them.
bool ReadNtVersion(const HiveFile& hive, Version* version, std::string* why) {
  emulation::NamedValues values;
  const DWORD error = ReadValues(hive, kVersionKey, View::kNative, &values, why);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return false;
  for (const auto& [name, value] : values) {
    const bool isString = value.type == REG_SZ;
    const bool isNumber = value.type == REG_DWORD && value.data.size() == sizeof(DWORD);
    if (isString && EqualsIgnoringCase(name, "CurrentVersion")) {
      *version = Parsed(value.data, *version);
    } else if (isString && EqualsIgnoringCase(name, "CurrentBuildNumber")) {
      version->build = static_cast<DWORD>(std::strtoul(value.data.c_str(), nullptr, 10));
    } else if (isNumber && EqualsIgnoringCase(name, "CurrentMajorVersionNumber")) {
      version->major = LittleEndian(value.data);
    } else if (isNumber && EqualsIgnoringCase(name, "CurrentMinorVersionNumber")) {
      version->minor = LittleEndian(value.data);
    }
  }
  return true;
}

std::optional<Installation> Refused(const std::string& path, const std::string& reason,
                                    std::string* why) {
  *why = emulation::Quoted(path) + ": " + reason;
  return std::nullopt;
}

std::optional<Installation> NtInstallation(int windows, std::string windowsPath, HiveFile hive,
                                           std::string* why) {
  std::string reason;
  Version version = kNtVersion;
  if (CheckHive(hive, &reason) != ERROR_SUCCESS || !ReadNtVersion(hive, &version, &reason)) {
    return Refused(hive.path, reason, why);
  }
  const bool wow64 = Is(windows, emulation::FindName(windows, kWow64System), S_IFDIR);
  const std::string system = emulation::FindName(windows, wow64 ? kWow64System : kNtSystem);
  return Installation{
      VER_PLATFORM_WIN32_NT,       version.major,  version.minor, version.build, wow64, windowsPath,
      windowsPath + "\\" + system, std::move(hive)};
}

std::optional<Installation> Installation95(int drive, int windows, std::string windowsPath,
                                           std::string* why) {
  const std::string system = emulation::FindName(windows, k95System);
  if (!Is(windows, system, S_IFDIR)) {
    return Refused(HostPath(windows, k95System), "the Windows folder has no SYSTEM folder", why);
  }
  const Version version = Parsed(Setting(drive, kMsDosSys, "Options", "WinVer"), k95Version);
  return Installation{
      VER_PLATFORM_WIN32_WINDOWS,  version.major, version.minor, version.build, false, windowsPath,
      windowsPath + "\\" + system, std::nullopt};
}

// The installation in the folder names lead to, if any; *why says why one there cannot be used.
std::optional<Installation> Examine(int drive, const std::vector<std::string>& names,
                                    std::string* why) {
  std::string windowsPath = "C:";
  const UniqueFd windows = Descend(drive, names, &windowsPath);
  if (!windows) return std::nullopt;
  std::string unused;
  UniqueFd config = Descend(windows.get(), {kNtSystem, kHiveFolder}, &unused);
  const std::string hive = config ? emulation::FindName(config.get(), kSoftwareHive) : "";
  if (config && Is(config.get(), hive, S_IFREG)) {
    const std::string path = HostPath(config.get(), hive);
    return NtInstallation(windows.get(), windowsPath, {std::move(config), hive, path}, why);
  }
  if (Is(windows.get(), emulation::FindName(windows.get(), k95Registry), S_IFREG)) {
    return Installation95(drive, windows.get(), windowsPath, why);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Installation> RecogniseInstallation(int drive, std::string* why) {
  for (const std::vector<std::string>& names : Candidates(drive)) {
    why->clear();
    std::optional<Installation> installation = Examine(drive, names, why);
    if (!why->empty()) return std::nullopt;
    if (!installation) continue;
    struct statvfs volume;
    if (fstatvfs(drive, &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
      *why =
          "the drive is mounted read-only: mount it for writing (ntfs-3g mounts a drive "
          "that Windows left hibernated or in use read-only: start Windows and shut it "
          "down fully first)";
      return std::nullopt;
    }
    return installation;
  }
  why->clear();
  return std::nullopt;
}

}  // namespace offline
