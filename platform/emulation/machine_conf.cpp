// machine.conf, which says which Windows the machine folder stands for.
#include <cstdlib>
#include <string>

#include "platform/emulation/machine.h"
#include "platform/emulation/windows_path.h"

namespace emulation {
namespace {

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

}  // namespace emulation
