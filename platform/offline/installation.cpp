// Which Windows a drive holds, from its folders and files alone: where the registry is tells
// the family, SysWOW64 a 64-bit Windows, and the registry or MSDOS.SYS the version.
#include "platform/offline/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/emulation/ascii.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/profile_text.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"
#include "platform/emulation/windows_path.h"

namespace offline {
namespace {

using emulation::FindName;
using emulation::Quoted;
using emulation::UniqueFd;
using Names = std::vector<std::string>;

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
constexpr char k95Profile[] = "system.ini";
constexpr char kVersionKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kAsItStands[] = ": a Windows drive is used only as it stands";

// A setting of a settings file in the drive's root (boot.ini, MSDOS.SYS), "" when there is none.
std::string Setting(int drive, const std::string& file, std::string_view section,
                    std::string_view name) {
  std::string text;
  DWORD error = ERROR_SUCCESS;
  struct stat status;
  if (fstatat(drive, file.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      status.st_size > static_cast<off_t>(kLongestSettingsFile) ||
      !emulation::ReadWholeFile(drive, file, &text, &error)) {
    return "";
  }
  return emulation::GetProfileString(text, section, name).value_or("");
}

// The folders that may hold Windows, likeliest first: the one the NT boot loader starts
// ("multi(0)disk(0)rdisk(0)partition(1)\WINNT"), the one MSDOS.SYS names ("C:\WINDOWS"), then
// the usual ones. What lies before the first backslash names the drive. Nothing, with *why,
// when a file names a path that would lead outside the drive.
std::optional<std::vector<Names>> Candidates(int drive, std::string* why) {
  const struct {
    const char *file, *section, *name;
  } kNamers[] = {{kBootIni, "boot loader", "default"}, {kMsDosSys, "Paths", "WinDir"}};
  std::vector<Names> candidates;
  for (const auto& namer : kNamers) {
    const std::string file = FindName(drive, namer.file);
    const std::string value = Setting(drive, file, namer.section, namer.name);
    const std::string path = value.substr(std::min(value.find('\\'), value.size()));
    const Names names = emulation::SplitWindowsPath(path);
    if (!std::all_of(names.begin(), names.end(), emulation::IsPlainName)) {
      *why = Quoted(file) + " names " + Quoted(path) + ", which leads outside the drive";
      return std::nullopt;
    }
    if (!names.empty()) candidates.push_back(names);
  }
  for (const char* folder : kWindowsFolders) candidates.push_back({folder});
  return candidates;
}

// "4.10.2222": as many of the numbers as the text gives, the others as they were.
void ParseVersion(const std::string& text, emulation::MachineDescription* description) {
  DWORD* const parts[] = {&description->majorVersion, &description->minorVersion,
                          &description->buildNumber};
  const char* at = text.c_str();
  for (DWORD* part : parts) {
    char* end;
    const unsigned long number = std::strtoul(at, &end, 10);
    if (end == at) break;
    *part = static_cast<DWORD>(number);
    if (*end != '.') break;
    at = end + 1;
  }
}

// The NT family's numbers from the hive, *why set when it cannot be read: CurrentVersion "6.3",
// CurrentBuildNumber, and since Windows 10 Current(Major|Minor)VersionNumber beside them.
void ReadNtVersion(const HiveFile& hive, emulation::MachineDescription* description,
                   std::string* why) {
  std::vector<offline::Setting> found;
  std::string reason;
  const DWORD error = ReadSettings(hive, kVersionKey, View::kNative,
                                   {"CurrentVersion", "CurrentBuildNumber",
                                    "CurrentMajorVersionNumber", "CurrentMinorVersionNumber"},
                                   &found, &reason);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
    *why = Quoted(emulation::HostPath(hive.folder.get(), hive.name)) + ": " + reason;
  }
  if (error != ERROR_SUCCESS) return;  // without the key, Windows XP's numbers
  ParseVersion(found[0].text.value_or(""), description);
  if (found[1].text)
    description->buildNumber = static_cast<DWORD>(std::atol(found[1].text->c_str()));
  description->majorVersion = found[2].number.value_or(description->majorVersion);
  description->minorVersion = found[3].number.value_or(description->minorVersion);
}

// What each family reports where the drive does not say, as the emulated machine: Windows XP's
// numbers or Windows 95's.
emulation::MachineDescription Family(const char* platform, const std::string& windows) {
  std::string unused;
  auto description =
      *emulation::ParseMachineDescription(std::string("platform = ") + platform, &unused);
  description.windowsDirectory = windows;
  return description;
}

// The installation in the folder names lead to on drive, if any; *why says why one there cannot
// be used. No link is followed: one where Windows keeps a folder or file it reads refuses the
// drive, named by its path on the drive in its letter case on disk.
std::optional<Installation> Examine(int drive, const Names& names, std::string* why) {
  emulation::Walk walk;
  const auto open = [&](int folder, const std::string& at, const Names& below) {
    DWORD error;
    UniqueFd opened =
        emulation::OpenBeneath(folder, below, emulation::Links::kRefused, &error, &walk);
    walk.path = at + walk.path;
    if (walk.refused) *why = Quoted(walk.path) + " is a link" + kAsItStands;
    return opened;
  };
  // Whether the entry name of folder, at `at` on the drive, is a `type` (S_IFDIR, S_IFREG), *found
  // its name; anything else but nothing there refuses the drive.
  const auto is = [&](int folder, const std::string& at, const char* name, mode_t type,
                      std::string* found) {
    const mode_t there = emulation::TypeOf(folder, *found = FindName(folder, name));
    const char* wrong = there == S_IFLNK ? " is a link" : " is not what Windows keeps there";
    if (there != 0 && there != type && why->empty()) {
      *why = Quoted(at + *found) + wrong + kAsItStands;
    }
    return there == type;
  };
  const UniqueFd windows = open(drive, "", names);
  if (!windows) return std::nullopt;
  const std::string at = walk.path + "/";
  std::string directory = "C:\\" + walk.path, hive, system, profile;
  std::replace(directory.begin(), directory.end(), '/', '\\');
  UniqueFd config = open(windows.get(), at, {kNtSystem, kHiveFolder});
  if (config && is(config.get(), walk.path + "/", kSoftwareHive, S_IFREG, &hive)) {
    // A 64-bit Windows whose SysWOW64 cannot be used is refused, never taken for a 32-bit one.
    const bool wow64 = is(windows.get(), at, kWow64System, S_IFDIR, &system);
    Installation nt{Family("nt", directory), wow64 ? View::kWow64 : View::kNative,
                    HiveFile{std::move(config), hive}};
    if (!wow64) system = FindName(windows.get(), kNtSystem);
    nt.description.systemDirectory = directory + "\\" + system;
    ReadNtVersion(*nt.software, &nt.description, why);
    return nt;
  }
  if (!why->empty() || !is(windows.get(), at, k95Registry, S_IFREG, &hive)) return std::nullopt;
  Installation nineFive{Family("95", directory), View::kNative, std::nullopt};
  const bool hasSystem = is(windows.get(), at, k95System, S_IFDIR, &system);
  is(windows.get(), at, k95Profile, S_IFREG, &profile);  // anything but a file there refuses
  if (!hasSystem && why->empty()) {
    *why = Quoted(emulation::HostPath(windows.get(), k95System)) +
           ": the Windows folder has no SYSTEM folder";
  }
  nineFive.description.systemDirectory = directory + "\\" + system;
  ParseVersion(Setting(drive, FindName(drive, kMsDosSys), "Options", "WinVer"),
               &nineFive.description);
  return nineFive;
}

}  // namespace

std::optional<Installation> RecogniseInstallation(int drive, std::string* why) {
  why->clear();
  const std::optional<std::vector<Names>> candidates = Candidates(drive, why);
  for (const Names& names : candidates.value_or(std::vector<Names>())) {
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
  return std::nullopt;
}

}  // namespace offline
