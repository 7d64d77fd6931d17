#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulation {

// Windows' ANSI calls take paths of at most MAX_PATH (260) bytes with the terminating zero.
inline constexpr std::size_t kMaxPath = 259;

// A Windows path taken apart: where it starts, and the names below that. No name is ever
// empty, "." or "..", or holds a separator or a NUL, so the names cannot climb out of where
// they start.
struct WindowsPath {
  bool onDriveC;  // otherwise relative to the process's current directory
  std::vector<std::string> names;
};

// Reads a path as Windows does: "\" and "/" both separate, "." and ".." are resolved before
// any lookup (".." at the root stays there), and trailing dots and spaces are dropped from
// names. Nothing for what cannot name a file here: other drives, UNC and device paths,
// characters Windows forbids in names, or a relative path that climbs above its start.
std::optional<WindowsPath> ParseWindowsPath(std::string_view path);

// The names between the backslashes of a key's path, or a path read from a file, as written.
std::vector<std::string> SplitWindowsPath(std::string_view path);

}  // namespace emulation
