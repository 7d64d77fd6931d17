#include "platform/emulation/machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/emulation/host_files.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

// Windows' ANSI calls take paths of at most MAX_PATH (260) bytes with the terminating zero.
constexpr std::size_t kMaxPath = 259;

constexpr char kFreshDescription[] =
    "# The Windows this folder stands for, read by vornsetup at every run.\n"
    "#   platform  nt, 95, another dwPlatformId as a number (0 is Win32s), or fail\n"
    "#             (the version query fails)\n"
    "#   windows   the Windows directory, a path on drive C:\n"
    "#   system    the system directory, a path on drive C:\n"
    "platform = nt\n"
    "windows = C:\\WINDOWS\n"
    "system = C:\\WINDOWS\\SYSTEM32\n";

constexpr char kFreshRegistry[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
    "\"CurrentVersion\"=\"5.1\"\r\n"
    "\"CurrentBuildNumber\"=\"2600\"\r\n"
    "\"SystemRoot\"=\"C:\\\\WINDOWS\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]\r\n"
    "\"msrle32.dll\"=\"Microsoft RLE\"\r\n"
    "\"msvidc32.dll\"=\"Microsoft Video 1\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\r\n"
    "\"msacm.imaadpcm\"=\"imaadp32.acm\"\r\n"
    "\"vidc.mrle\"=\"msrle32.dll\"\r\n"
    "\"vidc.msvc\"=\"msvidc32.dll\"\r\n"
    "\"wavemapper\"=\"msacm32.drv\"\r\n"
    "\r\n";

constexpr char kFreshSystemIni[] =
    "; for 16-bit app support\r\n"
    "[386Enh]\r\n"
    "woafont=dosapp.fon\r\n"
    "\r\n"
    "[drivers]\r\n"
    "wave=mmdrv.dll\r\n"
    "timer=timer.drv\r\n"
    "\r\n"
    "[mci]\r\n"
    "[drivers32]\r\n"
    "msacm.imaadpcm=imaadp32.acm\r\n";

struct OpenedMachine {
  MachineDescription description;
  UniqueFd folder;
  UniqueFd drive;
};
OpenedMachine* opened = nullptr;

std::string Trim(std::string_view text) {
  const char* const kBlanks = " \t\r";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

bool ParsePlatform(const std::string& value, MachineDescription* description) {
  const std::string lower = Lower(value);
  if (lower == "nt") {
    description->platformId = VER_PLATFORM_WIN32_NT;
  } else if (lower == "95") {
    description->platformId = VER_PLATFORM_WIN32_WINDOWS;
  } else if (lower == "fail") {
    description->versionQueryFails = true;
  } else if (!value.empty() && value.size() <= 10 &&
             value.find_first_not_of("0123456789") == std::string::npos &&
             std::strtoull(value.c_str(), nullptr, 10) <= 0xffffffffu) {
    description->platformId = static_cast<DWORD>(std::strtoull(value.c_str(), nullptr, 10));
  } else {
    return false;
  }
  return true;
}

// A directory as Windows reports it: a full path on C:, without a trailing backslash.
bool ParseDirectory(std::string value, std::string* directory) {
  while (value.size() > 3 && (value.back() == '\\' || value.back() == '/')) value.pop_back();
  const std::optional<WindowsPath> path = ParseWindowsPath(value);
  if (!path || !path->onDriveC || value.size() < 3 || value[1] != ':' || value.size() > kMaxPath) {
    return false;
  }
  *directory = value;
  return true;
}

bool WriteNewFile(int folder, const char* name, std::string_view content) {
  UniqueFd file(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!file) return false;
  while (!content.empty()) {
    const ssize_t written = write(file.get(), content.data(), content.size());
    if (written <= 0) return false;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return fsync(file.get()) == 0;
}

// Removes a half-made fresh machine of this process's own, never following links.
void RemoveTree(const std::string& path) {
  nftw(
      path.c_str(),
      [](const char* entry, const struct stat*, int, FTW*) {
        remove(entry);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

// Builds a fresh machine in a folder of its own beside the target, then moves it into place
// in one step, so that two setups started at once on a new machine agree on one.
bool CreateFreshMachine(const std::string& folder, std::string* error) {
  std::string staging = folder + ".new-XXXXXX";
  if (mkdtemp(staging.data()) == nullptr) {
    *error = "cannot create " + staging + ": " + std::strerror(errno);
    return false;
  }
  UniqueFd root(open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const bool made = root && fchmod(root.get(), 0755) == 0 &&
                    mkdirat(root.get(), kDriveFolder, 0755) == 0 &&
                    mkdirat(root.get(), "drive_c/WINDOWS", 0755) == 0 &&
                    mkdirat(root.get(), "drive_c/WINDOWS/SYSTEM32", 0755) == 0 &&
                    WriteNewFile(root.get(), kDescriptionFile, kFreshDescription) &&
                    WriteNewFile(root.get(), kRegistryFile, kFreshRegistry) &&
                    WriteNewFile(root.get(), "drive_c/WINDOWS/system.ini", kFreshSystemIni);
  if (!made) {
    *error = "cannot create a fresh machine in " + staging + ": " + std::strerror(errno);
    RemoveTree(staging);
    return false;
  }
  if (rename(staging.c_str(), folder.c_str()) != 0) {
    const int renameError = errno;
    RemoveTree(staging);
    // Another setup made the machine first: use that one.
    if (renameError != EEXIST && renameError != ENOTEMPTY) {
      *error = "cannot create " + folder + ": " + std::strerror(renameError);
      return false;
    }
  }
  return true;
}

bool MakeParentFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string parent = folder.substr(0, slash);
    if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::optional<MachineDescription> ParseMachineDescription(std::string_view text,
                                                          std::string* error) {
  MachineDescription description;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;

    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *error = where + "expected 'setting = value'";
      return std::nullopt;
    }
    const std::string setting = Lower(Trim(std::string_view(line).substr(0, equals)));
    const std::string value = Trim(std::string_view(line).substr(equals + 1));
    bool valid;
    if (setting == "platform") {
      valid = ParsePlatform(value, &description);
    } else if (setting == "windows") {
      valid = ParseDirectory(value, &description.windowsDirectory);
    } else if (setting == "system") {
      valid = ParseDirectory(value, &description.systemDirectory);
    } else {
      *error = where + "unknown setting '" + setting + "'";
      return std::nullopt;
    }
    if (!valid) {
      *error = where + "'" + value + "' is not a valid " + setting +
               (setting == "platform" ? " (nt, 95, a number or fail)"
                                      : " (a full path on C:, at most 259 characters)");
      return std::nullopt;
    }
  }
  return description;
}

bool OpenMachine(const std::string& folder, std::string* error) {
  if (folder.empty() || folder[0] != '/') {
    *error = "the machine folder must be an absolute path, not '" + folder + "'";
    return false;
  }
  // A missing or empty folder becomes a fresh machine, like a new Wine prefix.
  if (rmdir(folder.c_str()) != 0 && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST &&
      errno != ENOTDIR) {
    *error = "cannot use " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat status;
  if (stat(folder.c_str(), &status) != 0 &&
      !(MakeParentFolders(folder) && CreateFreshMachine(folder, error))) {
    return false;
  }

  auto machine = std::make_unique<OpenedMachine>();
  machine->folder = UniqueFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!machine->folder) {
    *error = "cannot open " + folder + ": " + std::strerror(errno);
    return false;
  }
  DWORD readError = ERROR_SUCCESS;
  const std::optional<std::string> text =
      ReadWholeFile(machine->folder.get(), kDescriptionFile, &readError);
  if (!text) {
    *error = folder + " is not a machine folder: cannot read its " + kDescriptionFile;
    return false;
  }
  std::string descriptionError;
  std::optional<MachineDescription> description = ParseMachineDescription(*text, &descriptionError);
  if (!description) {
    *error = folder + "/" + kDescriptionFile + " " + descriptionError;
    return false;
  }
  machine->description = std::move(*description);
  machine->drive = UniqueFd(
      openat(machine->folder.get(), kDriveFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!machine->drive) {
    *error = folder + " has no " + kDriveFolder + " folder for drive C:";
    return false;
  }
  // A full disk or a file size limit must fail a write, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  delete opened;
  opened = machine.release();
  return true;
}

std::string DefaultMachineFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : "/tmp";
  }
  return std::string(home) + "/.vornsetup/machine";
}

bool OpenMachineFromEnvironment() {
  const char* named = std::getenv(kMachineVariable);
  const std::string folder = named != nullptr && named[0] != '\0' ? named : DefaultMachineFolder();
  std::string error;
  if (OpenMachine(folder, &error)) return true;
  std::fprintf(stderr, "vornsetup: no machine to set up: %s\n", error.c_str());
  return false;
}

bool MachineIsOpen() {
  return opened != nullptr;
}

const MachineDescription& Description() {
  return opened->description;
}

int MachineFolder() {
  return opened->folder.get();
}

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
  UniqueFd folder = OpenFolder(insideMachine ? opened->drive.get() : AT_FDCWD, path->names,
                               !insideMachine, error);
  if (!folder) return std::nullopt;
  std::string name = FindName(folder.get(), last);
  return Location{std::move(folder), std::move(name), insideMachine};
}

void ReportMachineFault(const std::string& what) {
  std::fprintf(stderr, "vornsetup: %s\n", what.c_str());
}

}  // namespace emulation
