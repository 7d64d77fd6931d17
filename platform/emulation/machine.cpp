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
  std::string path;
  UniqueFd folder;
  UniqueFd drive;
};
OpenedMachine* opened = nullptr;

// A full disk or a file size limit must fail a write, not end the process; nor may a reader of
// standard error that went away end it, or change its exit status, after the work is done.
void IgnoreHostSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

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
  const std::optional<std::string> text =
      ReadWholeFile(machine->folder.get(), kDescriptionFile, &readError);
  if (!text) {
    *error =
        Quoted(descriptionPath) + ": " + WhyUnreadable(machine->folder.get(), kDescriptionFile);
    return false;
  }
  std::string descriptionError;
  std::optional<MachineDescription> description = ParseMachineDescription(*text, &descriptionError);
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

int DriveFolder() {
  return opened->drive.get();
}

std::string MachinePath(std::string_view name) {
  return opened->path + "/" + std::string(name);
}

}  // namespace emulation
