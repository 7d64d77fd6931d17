// A fresh machine: what it holds, and how it is made so that two setups at once agree on one.
#include "platform/emulation/fresh_machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/emulation/machine.h"
#include "platform/emulation/unique_fd.h"

namespace emulation {
namespace {

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

bool MakeParentFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string parent = folder.substr(0, slash);
    if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

// Builds a fresh machine in a folder of its own beside the target, then moves it into place
// in one step, so that two setups started at once on a new machine agree on one.
bool CreateFreshMachine(const std::string& folder, std::string* error) {
  if (!MakeParentFolders(folder)) return false;
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

}  // namespace emulation
