// The machine: machine.conf read, the machine this process runs on, and Windows paths located in
// it.
#include "platform/emulation/machine.h"

#include <fcntl.h>

#include <cstdlib>
#include <memory>

#include "platform/emulation/ascii.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

struct OpenedMachine {
  MachineDescription description;
  UniqueFd drive;
  RegistryStore registry;
};
std::unique_ptr<OpenedMachine> opened;

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

// What each family reports beside its platform id: Windows XP, Windows 95 and Win32s.
void SetFamilyVersion(MachineDescription* description) {
  const bool nt = description->platformId == VER_PLATFORM_WIN32_NT;
  const bool nineFive = description->platformId == VER_PLATFORM_WIN32_WINDOWS;
  description->majorVersion = nt ? 5 : nineFive ? 4 : 3;
  description->minorVersion = nt ? 1 : nineFive ? 0 : 10;
  description->buildNumber = nt ? 2600 : nineFive ? 950 : 0;
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
  SetFamilyVersion(&description);
  return description;
}

void UseMachine(MachineDescription description, UniqueFd drive, RegistryStore registry) {
  opened.reset(new OpenedMachine{std::move(description), std::move(drive), std::move(registry)});
}

bool MachineIsOpen() {
  return opened != nullptr;
}

const MachineDescription& Description() {
  return opened->description;
}

const RegistryStore& Registry() {
  return opened->registry;
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
  Walk walk;
  UniqueFd folder = OpenBeneath(insideMachine ? opened->drive.get() : AT_FDCWD, path->names,
                                insideMachine ? Links::kRefused : Links::kFollowed, error, &walk);
  if (!folder) return std::nullopt;
  std::string name = FindName(folder.get(), last);
  return Location{std::move(folder), std::move(name), insideMachine};
}

}  // namespace emulation
