// The machine this process runs on: which folder it is, opened once at start-up.
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

#include "platform/emulation/fresh_machine.h"
#include "platform/emulation/host_files.h"

namespace emulation {
namespace {

struct OpenedMachine {
  MachineDescription description;
  UniqueFd folder;
  UniqueFd drive;
};
OpenedMachine* opened = nullptr;

}  // namespace

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
  if (stat(folder.c_str(), &status) != 0 && !CreateFreshMachine(folder, error)) {
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

int DriveFolder() {
  return opened->drive.get();
}

}  // namespace emulation
