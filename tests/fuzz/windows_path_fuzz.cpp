// libFuzzer target for the Windows path mapping. Any bytes as a path: the names it parses into
// never climb or carry a separator and read back the same, and whatever it is located at on a
// real machine folder stays in the machine's drive folder, even where the machine holds
// symbolic links that lead out of it. Relative paths stay in the current directory.
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/emulation/emulated_machine.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/windows_path.h"

namespace {

using emulation::Locate;
using emulation::Location;
using emulation::ParseWindowsPath;
using emulation::UniqueFd;
using emulation::WindowsPath;

constexpr std::size_t kMaxNameLength = 255;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The machine the paths are located on, with ways out of it for the fuzzer to try.
struct Bench {
  std::string work;     // the temporary folder, removed at exit
  std::string drive;    // its machine's drive_c, as the kernel names it
  std::string package;  // where relative paths start
  UniqueFd packageFolder;
  UniqueFd startFolder;  // the fuzzer's own current directory, given back after each input
};
Bench* bench = nullptr;

void RemoveWork() {
  nftw(
      bench->work.c_str(),
      [](const char* entry, const struct stat*, int, FTW*) {
        remove(entry);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

void Make(const std::string& path, bool folder) {
  if (folder) {
    Check(mkdir(path.c_str(), 0755) == 0);
  } else {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    Check(file >= 0);
    close(file);
  }
}

void Link(const std::string& target, const std::string& at) {
  Check(symlink(target.c_str(), at.c_str()) == 0);
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  Check(resolved != nullptr);
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// Where an open file or folder really is: the kernel's name for it.
std::string WhereIs(int fd) {
  char target[4096];
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(self.c_str(), target, sizeof target - 1);
  Check(length > 0);
  return std::string(target, static_cast<std::size_t>(length));
}

bool IsWithin(const std::string& path, const std::string& folder) {
  return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

void MakeBench() {
  const char* temporary = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temporary != nullptr ? temporary : "/tmp") + "/vorn-fuzz-XXXXXX";
  Check(mkdtemp(pattern.data()) != nullptr);
  bench = new Bench{RealPath(pattern), "", "", UniqueFd(), UniqueFd()};
  std::atexit(RemoveWork);

  const std::string machine = bench->work + "/machine";
  std::string error;
  if (!emulation::OpenMachine(machine, &error)) {
    std::fprintf(stderr, "windows_path_fuzz: %s\n", error.c_str());
    std::abort();
  }
  bench->drive = machine + "/drive_c";
  const std::string system32 = bench->drive + "/WINDOWS/SYSTEM32";
  Make(bench->work + "/outside", true);
  Make(bench->work + "/outside/secret.dll", false);
  Make(bench->drive + "/Program Files", true);
  Make(bench->drive + "/Program Files/VORN", true);
  Make(system32 + "/drivers", true);
  Make(system32 + "/vornjixd.dll", false);
  Link(bench->work + "/outside", system32 + "/outside");  // a folder outside, by full path
  Link("..", bench->drive + "/up");                       // the machine folder above the drive
  Link("../../..", system32 + "/drivers/etc");            // relative, back to the drive
  Link("/", bench->drive + "/WINDOWS/root");
  Link(bench->work + "/outside/secret.dll", system32 + "/vornjix2.dll");

  bench->package = bench->work + "/package";
  Make(bench->package, true);
  Make(bench->package + "/sub", true);
  Make(bench->package + "/vornjixd.dll", false);
  bench->packageFolder = UniqueFd(open(bench->package.c_str(), O_RDONLY | O_DIRECTORY));
  bench->startFolder = UniqueFd(open(".", O_RDONLY | O_DIRECTORY));
  Check(bench->packageFolder && bench->startFolder);
}

bool IsValidName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameLength) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

// The path the parsed names stand for, written plainly; it must parse to the same names.
std::string Rejoined(const WindowsPath& parsed) {
  std::string path = parsed.onDriveC ? "C:\\" : "";
  for (const std::string& name : parsed.names) path += name + "\\";
  if (!parsed.names.empty()) path.pop_back();
  return path;
}

void CheckParse(std::string_view input, const std::optional<WindowsPath>& parsed) {
  if (!parsed) return;
  Check(!input.empty());
  for (const std::string& name : parsed->names) Check(IsValidName(name));
  if (!parsed->onDriveC && parsed->names.empty()) return;  // "." and the like: the start itself
  const std::optional<WindowsPath> again = ParseWindowsPath(Rejoined(*parsed));
  Check(again && again->onDriveC == parsed->onDriveC && again->names == parsed->names);
}

// What a path is located at must be inside where it starts, and so must the entry it names
// when it is opened as the operations open it, without following a link.
void CheckLocation(const WindowsPath& parsed, const Location& location) {
  Check(location.insideMachine == parsed.onDriveC);
  Check(IsValidName(location.name));
  const std::string& start = parsed.onDriveC ? bench->drive : bench->package;
  Check(IsWithin(WhereIs(location.folder.get()), start));
  const UniqueFd entry(openat(location.folder.get(), location.name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (entry) Check(IsWithin(WhereIs(entry.get()), start));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (bench == nullptr) MakeBench();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<WindowsPath> parsed = ParseWindowsPath(input);
  CheckParse(input, parsed);

  // Relative paths start in the package folder; the fuzzer's own folder is given back at once,
  // as it names its files relative to it.
  Check(fchdir(bench->packageFolder.get()) == 0);
  DWORD error = ERROR_SUCCESS;
  const std::optional<Location> location = Locate(input, &error);
  Check(fchdir(bench->startFolder.get()) == 0);
  if (location) {
    Check(parsed.has_value());
    CheckLocation(*parsed, *location);
  } else {
    Check(error != ERROR_SUCCESS);
  }
  return 0;
}
