// The machine: machine.conf read, the folder this process runs on opened once at start-up, and
// Windows paths located in it.
#include "platform/emulation/machine.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/emulation/ascii.h"
#include "platform/emulation/fresh_machine.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/layout.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

constexpr char kMachineVariable[] = "VORN_MACHINE";

struct OpenedMachine {
  MachineDescription description;
  std::string path;
  UniqueFd folder;
  UniqueFd drive;
};
OpenedMachine* opened = nullptr;

constexpr std::string_view kBlanks = " \t\r";

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

// ~/.vornsetup/machine, for a user who names none.
std::string DefaultMachineFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : "/tmp";
  }
  return std::string(home) + "/.vornsetup/machine";
}

// A full disk or a file size limit must fail a write, not end the process; nor may a reader of
// standard error that went away end it, or change its exit status, after the work is done.
void IgnoreHostSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

std::optional<MachineDescription> ParseMachineDescription(std::string_view text,
                                                          std::string* error) {
  MachineDescription description;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end), kBlanks);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;

    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      *error = where + "expected 'setting = value'";
      return std::nullopt;
    }
    const std::string setting = Lower(Trim(line.substr(0, equals), kBlanks));
    const std::string value(Trim(line.substr(equals + 1), kBlanks));
    bool valid;
    if (setting == "platform") {
      valid = ParsePlatform(value, &description);
    } else if (setting == "windows") {
      valid = ParseDirectory(value, &description.windowsDirectory);
    } else if (setting == "system") {
      valid = ParseDirectory(value, &description.systemDirectory);
    } else {
      *error = where + "unknown setting " + Quoted(setting);
      return std::nullopt;
    }
    if (!valid) {
      *error = where + Quoted(value) + " is not a valid " + setting +
               (setting == "platform" ? " (nt, 95, a number or fail)"
                                      : " (a full path on C:, at most 259 characters)");
      return std::nullopt;
    }
  }
  return description;
}

bool OpenMachine(const std::string& folder, std::string* error) {
  IgnoreHostSignals();
  if (folder.empty() || folder[0] != '/') {
    *error = "the machine folder must be an absolute path, not " + Quoted(folder);
    return false;
  }
  auto machine = std::make_unique<OpenedMachine>();
  machine->path = folder;
  machine->folder = OpenMachineFolder(folder, error);
  if (!machine->folder) return false;
  const std::string descriptionPath = folder + "/" + kDescriptionFile;
  DWORD readError = ERROR_SUCCESS;
  std::string text;
  if (!ReadWholeFile(machine->folder.get(), kDescriptionFile, &text, &readError)) {
    *error =
        Quoted(descriptionPath) + ": " + WhyUnreadable(machine->folder.get(), kDescriptionFile);
    return false;
  }
  std::string descriptionError;
  std::optional<MachineDescription> description = ParseMachineDescription(text, &descriptionError);
  if (!description) {
    *error = Quoted(descriptionPath) + ", " + descriptionError;
    return false;
  }
  machine->description = std::move(*description);
  machine->drive = UniqueFd(
      openat(machine->folder.get(), kDriveFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!machine->drive) {
    *error = "no drive C: " + Quoted(folder + "/" + kDriveFolder) + ": " + std::strerror(errno);
    return false;
  }
  delete opened;
  opened = machine.release();
  return true;
}

bool OpenMachineFromEnvironment() {
  const char* named = std::getenv(kMachineVariable);
  const std::string folder = named != nullptr && named[0] != '\0' ? named : DefaultMachineFolder();
  std::string error;
  if (OpenMachine(folder, &error)) return true;
  ReportMachineFault("no machine to set up: " + error);
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

std::string MachinePath(std::string_view name) {
  return opened->path + "/" + std::string(name);
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

}  // namespace emulation
