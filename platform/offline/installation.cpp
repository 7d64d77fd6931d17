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
constexpr char kAsItStands[] = " is a link: a Windows drive is used only as it stands";

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

// The NT family's numbers, from the hive: CurrentVersion "6.3" and CurrentBuildNumber, and
// since Windows 10 CurrentMajorVersionNumber and CurrentMinorVersionNumber beside them.
DWORD ReadNtVersion(const HiveFile& hive, emulation::MachineDescription* description,
                    std::string* why) {
  std::vector<offline::Setting> found;
  const DWORD error = ReadSettings(hive, kVersionKey, View::kNative,
                                   {"CurrentVersion", "CurrentBuildNumber",
                                    "CurrentMajorVersionNumber", "CurrentMinorVersionNumber"},
                                   &found, why);
  if (error != ERROR_SUCCESS) return error;
  ParseVersion(found[0].text.value_or(""), description);
  if (found[1].text) {
    description->buildNumber =
        static_cast<DWORD>(std::strtoul(found[1].text->c_str(), nullptr, 10));
  }
  description->majorVersion = found[2].number.value_or(description->majorVersion);
  description->minorVersion = found[3].number.value_or(description->minorVersion);
  return ERROR_SUCCESS;
}

// What each family reports where the drive does not say: Windows XP's numbers and Windows 95's,
// as the emulated machine's.
emulation::MachineDescription Family(const char* platform) {
  std::string unused;
  return *emulation::ParseMachineDescription(std::string("platform = ") + platform, &unused);
}

// Looks at a drive without following any link: a link where Windows keeps a folder or file it
// reads refuses the drive, named by its path on the drive.
class Examination {
 public:
  Examination(int drive, std::string* why) : drive_(drive), why_(why) {}

  // The installation in the folder names lead to, if any; *why says why one there cannot be used.
  std::optional<Installation> In(const Names& names) {
    emulation::Walk walk;
    const UniqueFd windows = Folder(drive_, names, &walk);
    if (!windows) return std::nullopt;
    std::replace(walk.path.begin(), walk.path.end(), '/', '\\');
    const std::string directory = "C:\\" + walk.path;
    UniqueFd config = Folder(windows.get(), {kNtSystem, kHiveFolder}, &walk);
    std::string found;
    if (config && Entry(config.get(), kSoftwareHive, &found) == S_IFREG) {
      const std::string path = emulation::HostPath(config.get(), found);
      return Nt(windows.get(), directory, {std::move(config), found, path});
    }
    if (!why_->empty() || Entry(windows.get(), k95Registry, &found) != S_IFREG) return std::nullopt;
    return NineFive(windows.get(), directory);
  }

 private:
  std::optional<Installation> Nt(int windows, const std::string& directory, HiveFile hive) {
    Installation nt{Family("nt"), false, std::nullopt};
    std::string system, reason;
    const DWORD error = ReadNtVersion(hive, &nt.description, &reason);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
      *why_ = Quoted(hive.path) + ": " + reason;
      return std::nullopt;
    }
    nt.wow64 = Entry(windows, kWow64System, &system) == S_IFDIR;
    if (!nt.wow64) system = FindName(windows, kNtSystem);
    nt.description.windowsDirectory = directory;
    nt.description.systemDirectory = directory + "\\" + system;
    nt.software = std::move(hive);
    return why_->empty() ? std::optional<Installation>(std::move(nt)) : std::nullopt;
  }

  std::optional<Installation> NineFive(int windows, const std::string& directory) {
    Installation nineFive{Family("95"), false, std::nullopt};
    std::string system, profile;
    const mode_t type = Entry(windows, k95System, &system);
    if (Entry(windows, k95Profile, &profile) == S_IFLNK || type == S_IFLNK) return std::nullopt;
    if (type != S_IFDIR) {
      *why_ = Quoted(emulation::HostPath(windows, k95System)) +
              ": the Windows folder has no SYSTEM folder";
      return std::nullopt;
    }
    ParseVersion(Setting(drive_, FindName(drive_, kMsDosSys), "Options", "WinVer"),
                 &nineFive.description);
    nineFive.description.windowsDirectory = directory;
    nineFive.description.systemDirectory = directory + "\\" + system;
    return nineFive;
  }

  // The folder names lead to beneath folder, *walk where they led; a link on the way refuses.
  UniqueFd Folder(int folder, const Names& names, emulation::Walk* walk) {
    DWORD error;
    UniqueFd opened =
        emulation::OpenBeneath(folder, names, emulation::Links::kRefused, &error, walk);
    if (walk->refused) Refuse(folder, walk->path);
    return opened;
  }

  // What the entry name of folder is (S_IFDIR, S_IFREG...; 0 when there is none), *found its
  // name on disk; a link there refuses.
  mode_t Entry(int folder, const char* name, std::string* found) {
    *found = FindName(folder, name);
    const mode_t type = emulation::TypeOf(folder, *found);
    if (type == S_IFLNK) Refuse(folder, *found);
    return type;
  }

  // Names folder/name by its path on the drive, in its letter case on disk.
  void Refuse(int folder, const std::string& name) {
    const std::string root = emulation::HostPath(drive_, "") + "/";
    const std::string path = emulation::HostPath(folder, name);
    *why_ =
        Quoted(emulation::StartsWith(path, root) ? path.substr(root.size()) : path) + kAsItStands;
  }

  int drive_;
  std::string* why_;
};

}  // namespace

std::optional<Installation> RecogniseInstallation(int drive, std::string* why) {
  why->clear();
  const std::optional<std::vector<Names>> candidates = Candidates(drive, why);
  for (const Names& names : candidates.value_or(std::vector<Names>())) {
    std::optional<Installation> installation = Examination(drive, why).In(names);
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
