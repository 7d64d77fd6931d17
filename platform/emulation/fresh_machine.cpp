// A fresh machine: what it holds, and how it is made inside its own folder, anew after a kill.
#include "platform/emulation/fresh_machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"

namespace emulation {
namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

// machine.conf is written under this name first and renamed last: a folder that holds it is a
// fresh machine a killed run left half-made.
constexpr char kUnfinished[] = ".vorn-fresh-machine.conf";

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

bool WriteWholeFile(int folder, const char* name, std::string_view content) {
  UniqueFd file(
      openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  DWORD error = ERROR_SUCCESS;  // a failure leaves errno to say why
  return file && WriteAll(file.get(), content, &error) && fsync(file.get()) == 0;
}

bool MakeFolder(int folder, const char* name) {
  return mkdirat(folder, name, kFolderMode) == 0 || errno == EEXIST;
}

bool Holds(int folder, const char* name) {
  struct stat status;
  return fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsEmpty(int folder) {
  bool empty = true;
  return ForEachName(folder, [&](const char*) { empty = false; }) && empty;
}

// Makes the fresh machine in folder, over whatever a killed run left of one. machine.conf takes
// its place last: until then the folder is recognised as unfinished.
bool MakeFresh(int folder) {
  const bool made = WriteWholeFile(folder, kUnfinished, kFreshDescription) && fsync(folder) == 0 &&
                    MakeFolder(folder, kDriveFolder) && MakeFolder(folder, "drive_c/WINDOWS") &&
                    MakeFolder(folder, "drive_c/WINDOWS/SYSTEM32") &&
                    WriteWholeFile(folder, kRegistryFile, kFreshRegistry) &&
                    WriteWholeFile(folder, "drive_c/WINDOWS/system.ini", kFreshSystemIni) &&
                    renameat(folder, kUnfinished, folder, kDescriptionFile) == 0;
  if (made) fsync(folder);  // makes the last step last
  return made;
}

// Takes away what MakeFresh made, never following links; the marker last, so that a run killed
// on the way still leaves the folder recognisable.
void Unmake(int folder, const std::string& path) {
  nftw((path + "/" + kDriveFolder).c_str(),
       [](const char* entry, const struct stat*, int, FTW*) {
         remove(entry);
         return 0;
       },
       16, FTW_DEPTH | FTW_PHYS);
  unlinkat(folder, kRegistryFile, 0);
  unlinkat(folder, kUnfinished, 0);
}

// Makes path and the folders above it that are missing. *made says whether any was, and so
// path itself.
bool MakeFolders(const std::string& path, bool* made, std::string* error) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), kFolderMode) == 0) {
      *made = true;
    } else if (errno != EEXIST) {
      *error = "cannot create " + Quoted(folder) + ": " + std::strerror(errno);
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

UniqueFd OpenFolderAt(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

UniqueFd OpenMachineFolder(const std::string& path, std::string* error) {
  bool made = false;
  UniqueFd folder = OpenFolderAt(path);
  if (!folder && errno == ENOENT) {
    if (!MakeFolders(path, &made, error)) return UniqueFd();
    folder = OpenFolderAt(path);
  }
  if (!folder) {
    *error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
    return folder;
  }
  // A machine that exists needs no lock to be opened.
  if (Holds(folder.get(), kDescriptionFile)) return folder;
  // Two setups started at once on a new machine take turns: the second finds it made.
  FolderLock turn(folder.get());
  if (Holds(folder.get(), kDescriptionFile)) return folder;
  if (!IsEmpty(folder.get()) && !Holds(folder.get(), kUnfinished)) {
    *error = Quoted(path) + " is not a machine folder: it holds no " + kDescriptionFile;
    return UniqueFd();
  }
  if (!MakeFresh(folder.get())) {
    *error = "cannot create a fresh machine in " + Quoted(path) + ": " + std::strerror(errno);
    Unmake(folder.get(), path);
    if (made) rmdir(path.c_str());
    return UniqueFd();
  }
  return folder;
}

}  // namespace emulation
