#include "platform/emulation/windows_path.h"

#include <algorithm>

namespace emulation {
namespace {

constexpr std::size_t kMaxNameLength = 255;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsForbidden(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
         c == '*';
}

// Windows ignores trailing dots and spaces: "vornjixd.dll. " names "vornjixd.dll".
std::string_view WithoutTrailingDotsAndSpaces(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

}  // namespace

std::optional<WindowsPath> ParseWindowsPath(std::string_view path) {
  if (path.empty()) return std::nullopt;
  WindowsPath parsed{false, {}};
  if (path.size() >= 2 && path[1] == ':') {
    if (path[0] != 'C' && path[0] != 'c') return std::nullopt;
    parsed.onDriveC = true;  // "C:name" is relative to C:'s current folder, its root here
    path.remove_prefix(2);
  } else if (IsSeparator(path[0])) {
    if (path.size() >= 2 && IsSeparator(path[1]))
      return std::nullopt;  // \\server, \\?\ and \\.\ paths
    parsed.onDriveC = true;
  }

  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!parsed.names.empty()) {
        parsed.names.pop_back();
      } else if (!parsed.onDriveC) {
        return std::nullopt;
      }
      continue;
    }
    for (char c : name) {
      if (IsForbidden(c)) return std::nullopt;
    }
    const std::string_view kept = WithoutTrailingDotsAndSpaces(name);
    if (kept.empty()) continue;
    if (kept.size() > kMaxNameLength) return std::nullopt;
    parsed.names.emplace_back(kept);
  }
  return parsed;
}

std::vector<std::string> SplitWindowsPath(std::string_view path) {
  std::vector<std::string> names;
  for (std::size_t begin = 0; begin < path.size();) {
    const std::size_t end = std::min(path.find('\\', begin), path.size());
    if (end > begin) names.emplace_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return names;
}

}  // namespace emulation
