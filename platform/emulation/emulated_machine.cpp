// The emulated machine: its folder opened, or made fresh inside its own folder (anew after a
// kill), its machine.conf read and its HKLM.reg made its registry.
#include "platform/emulation/emulated_machine.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/emulation/host_files.h"
#include "platform/emulation/layout.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/regedit4_store.h"
#include "platform/emulation/report.h"

namespace emulation {
namespace {

constexpr char kMachineVariable[] = "VORN_MACHINE";

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

// machine.conf is written under this name first and renamed last: a folder that holds it is a
// fresh machine a killed run left half-made.
constexpr char kUnfinished[] = ".vorn-fresh-machine.conf";
constexpr char kWindowsFolder[] = "WINDOWS";
constexpr char kSystemFolder[] = "SYSTEM32";
constexpr char kSystemIni[] = "system.ini";

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

// Makes a fresh machine in a folder, or finishes one a killed run left: what is missing is made,
// what is there is kept, nothing outside the folder is touched and no link followed. A run that
// fails takes away what it made, last first, and nothing else.
class FreshMachine {
 public:
  explicit FreshMachine(int folder) : folder_(folder) {}

  bool Make(std::string* error) {
    // machine.conf takes its place last: until then the folder is recognised as unfinished.
    const bool made = Write(folder_, kUnfinished, kFreshDescription, error) &&
                      Folder(folder_, kDriveFolder, &drive_, error) &&
                      Folder(drive_.get(), kWindowsFolder, &windows_, error) &&
                      Folder(windows_.get(), kSystemFolder, &system_, error) &&
                      Write(folder_, kRegistryFile, kFreshRegistry, error) &&
                      Write(windows_.get(), kSystemIni, kFreshSystemIni, error);
    if (made && renameat(folder_, kUnfinished, folder_, kDescriptionFile) == 0) {
      fsync(folder_);  // makes the last step last
      return true;
    }
    if (made) *error = std::strerror(errno);
    for (auto entry = made_.rbegin(); entry != made_.rend(); ++entry) {
      unlinkat(entry->folder, entry->name, entry->isFolder ? AT_REMOVEDIR : 0);
    }
    return false;
  }

 private:
  struct Made {
    int folder;
    const char* name;
    bool isFolder;
  };

  // Writes a file whole where none is; a plain file that is there (a killed run's, which is
  // whole, or the user's) is kept. A new file takes its folder's owner.
  bool Write(int folder, const char* name, std::string_view content, std::string* error) {
    if (const mode_t type = TypeOf(folder, name)) {
      if (type != S_IFREG) *error = Quoted(HostPath(folder, name)) + " is no plain file";
      return type == S_IFREG;
    }
    // The machine folder is locked already; one inside it is locked here, which also removes
    // what a killed run left there.
    std::optional<FolderLock> lock;
    if (folder != folder_) lock.emplace(folder);
    DWORD windowsError = ERROR_SUCCESS;
    if (!ReplaceFile(folder, name, kFileMode, content, &windowsError)) {
      *error = Quoted(HostPath(folder, name)) + ": " + ErrorText(windowsError);
      return false;
    }
    made_.push_back({folder, name, false});
    return true;
  }

  // Opens folder/name into *opened, making it first where it is missing, owned as its folder; a
  // link or anything but a folder there is refused.
  bool Folder(int folder, const char* name, UniqueFd* opened, std::string* error) {
    const bool created = mkdirat(folder, name, kFolderMode) == 0;
    if (created) made_.push_back({folder, name, true});
    if (created || errno == EEXIST) {
      *opened = UniqueFd(openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (*opened && created) OwnLikeFolder(opened->get(), folder);
    if (!*opened) {
      const bool other = errno == ELOOP || errno == ENOTDIR;
      *error = Quoted(HostPath(folder, name)) +
               (other ? " is no folder of its own" : ": " + std::string(std::strerror(errno)));
    }
    return static_cast<bool>(*opened);
  }

  int folder_;
  UniqueFd drive_, windows_, system_;
  std::vector<Made> made_;
};

// Empty but for what a killed run may have left, which taking the folder's lock removes.
bool IsEmpty(int folder) {
  bool empty = true;
  return ForEachName(folder, [&](const char* name) { empty = empty && IsTemporary(name); }) &&
         empty;
}

UniqueFd OpenFolderAt(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Makes path and the folders above it that are missing, each owned as its parent; *made lists
// those it made, the deepest last.
bool MakeFolders(const std::string& path, std::vector<std::string>* made, std::string* error) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), kFolderMode) == 0) {
      made->push_back(folder);
      const UniqueFd opened = OpenFolderAt(folder), parent = OpenFolderAt(folder + "/..");
      if (opened && parent) OwnLikeFolder(opened.get(), parent.get());
    } else if (errno != EEXIST) {
      *error = "cannot create " + Quoted(folder) + ": " + std::strerror(errno);
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

void RemoveFolders(const std::vector<std::string>& made) {
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder) rmdir(folder->c_str());
}

// Under the folder's lock, so that two setups started at once on a new machine take turns: the
// second finds it made.
bool MakeFresh(int folder, const std::string& path, std::string* error) {
  FolderLock turn(folder);
  if (TypeOf(folder, kDescriptionFile)) return true;
  if (!IsEmpty(folder) && !TypeOf(folder, kUnfinished)) {
    *error = Quoted(path) + " is not a machine folder: it holds no " + kDescriptionFile;
    return false;
  }
  std::string why;
  if (FreshMachine(folder).Make(&why)) return true;
  *error = "cannot create a fresh machine in " + Quoted(path) + ": " + why;
  return false;
}

UniqueFd OpenMachineFolder(const std::string& path, std::string* error) {
  std::vector<std::string> made;  // folders above the machine, made for it
  UniqueFd folder = OpenFolderAt(path);
  if (!folder && errno == ENOENT) {
    if (!MakeFolders(path, &made, error)) {
      RemoveFolders(made);
      return folder;
    }
    folder = OpenFolderAt(path);
  }
  // A machine that exists needs no lock to be opened.
  if (!folder) {
    *error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
  } else if (!TypeOf(folder.get(), kDescriptionFile) && !MakeFresh(folder.get(), path, error)) {
    folder.Reset();
  }
  if (!folder) RemoveFolders(made);
  return folder;
}

}  // namespace

void IgnoreHostSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsMachineFolder(const std::string& path) {
  const UniqueFd folder = OpenFolderAt(path);
  return !folder || IsEmpty(folder.get()) || TypeOf(folder.get(), kDescriptionFile) ||
         TypeOf(folder.get(), kUnfinished);
}

bool OpenMachine(const std::string& path, std::string* error) {
  IgnoreHostSignals();
  if (path.empty() || path[0] != '/') {
    *error = "the machine folder must be an absolute path, not " + Quoted(path);
    return false;
  }
  const UniqueFd folder = OpenMachineFolder(path, error);
  if (!folder) return false;
  const std::string descriptionPath = path + "/" + kDescriptionFile;
  DWORD readError = ERROR_SUCCESS;
  std::string text;
  if (!ReadWholeFile(folder.get(), kDescriptionFile, &text, &readError)) {
    *error = Quoted(descriptionPath) + ": " + WhyUnreadable(folder.get(), kDescriptionFile);
    return false;
  }
  std::string why;
  std::optional<MachineDescription> description = ParseMachineDescription(text, &why);
  if (!description) {
    *error = Quoted(descriptionPath) + ", " + why;
    return false;
  }
  UniqueFd drive(
      openat(folder.get(), kDriveFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!drive) {
    *error = "no drive C: " + Quoted(path + "/" + kDriveFolder) + ": " + std::strerror(errno);
    return false;
  }
  UseMachine(std::move(*description), std::move(drive), Regedit4Store(folder.get()));
  return true;
}

std::string MachineFolderFromEnvironment() {
  if (const char* named = std::getenv(kMachineVariable); named != nullptr && named[0] != '\0') {
    return named;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : "/tmp";
  }
  return std::string(home) + "/.vornsetup/machine";
}

bool OpenMachineFromEnvironment() {
  std::string error;
  if (OpenMachine(MachineFolderFromEnvironment(), &error)) return true;
  ReportMachineFault("no machine to set up: " + error);
  return false;
}

}  // namespace emulation
