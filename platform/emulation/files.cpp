// CopyFileA: a file copied into the machine replaces the old one in a single step, so an
// interrupted or failed copy never leaves a truncated decoder and never loses the old one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"

namespace emulation {
namespace {

// Replaces destination with the source open in input, whose status is source.
bool CopyInto(const Location& destination, int input, const struct stat& source, bool failIfExists,
              DWORD* error) {
  const int folder = destination.folder.get();
  // Copies into one folder take turns, so that only a program using the file holds a lock on
  // it while a copy looks, and two setups at once do not take each other for one.
  FolderLock turn(folder);
  // Whatever stands at the destination decides whether it may be replaced. The lock taken on
  // it is held until the new file has taken its place.
  if (!MayReplace(folder, destination.name, error)) return false;
  const UniqueFd existing(
      openat(folder, destination.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status = source;
  if (existing) {
    if (fstat(existing.get(), &status) != 0) {
      *error = WindowsError(errno);
      return false;
    }
    if (failIfExists) {
      *error = ERROR_FILE_EXISTS;
      return false;
    }
    // A decoder in use by a running video application is locked by it (flock, shared or
    // exclusive): Windows will not replace a loaded DLL either. Copying a file onto itself is
    // refused the same way.
    if (flock(existing.get(), LOCK_EX | LOCK_NB) != 0 ||
        (status.st_dev == source.st_dev && status.st_ino == source.st_ino)) {
      *error = ERROR_SHARING_VIOLATION;
      return false;
    }
  } else if (errno != ENOENT) {
    *error = WindowsError(errno);
    return false;
  }

  // A copy that replaces a file keeps that file's permissions, a new one gets the source's; as
  // Windows copies attributes, a read-only source makes a read-only copy.
  constexpr mode_t kWriteBits = 0222;
  const mode_t mode = IsReadOnly(source) ? status.st_mode & ~kWriteBits : status.st_mode;
  // Windows copies the file's last write time with it.
  const auto fill = [&](int output, DWORD* copyError) {
    const timespec times[2] = {source.st_atim, source.st_mtim};
    if (!CopyContents(input, output, copyError)) return false;
    if (futimens(output, times) != 0) {
      *copyError = WindowsError(errno);
      return false;
    }
    return true;
  };
  return ReplaceFile(folder, destination.name, mode, fill, error);
}

bool Copy(LPCSTR sourceName, LPCSTR destinationName, bool failIfExists, DWORD* error) {
  if (!MachineIsOpen()) {
    *error = ERROR_NOT_READY;
    return false;
  }
  if (sourceName == nullptr || destinationName == nullptr) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  // A failed copy is named on standard error: Windows' box only says the decoder is in use.
  const std::string what = "cannot copy " + Quoted(sourceName);
  const std::optional<Location> source = Locate(sourceName, error);
  UniqueFd input;
  if (source)
    input = OpenForReading(source->folder.get(), source->name, !source->insideMachine, error);
  struct stat status;
  if (input && fstat(input.get(), &status) != 0) {
    *error = WindowsError(errno);
    input.Reset();
  }
  if (!input) {
    ReportMachineFault(what + ": " + ErrorText(*error));
    return false;
  }
  const std::optional<Location> destination = Locate(destinationName, error);
  if (!destination) {
    ReportMachineFault(what + " to " + Quoted(destinationName) + ": " + ErrorText(*error));
    return false;
  }
  if (!CopyInto(*destination, input.get(), status, failIfExists, error)) {
    // A link is never followed, nor replaced: the user learns that it is one.
    const int folder = destination->folder.get();
    const bool link = TypeOf(folder, destination->name) == S_IFLNK;
    ReportMachineFault(what + " to " + Quoted(HostPath(folder, destination->name)) +
                       (link ? ", a link, which is never followed: " : ": ") + ErrorText(*error));
    return false;
  }
  return true;
}

}  // namespace
}  // namespace emulation

extern "C" BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  DWORD error = ERROR_SUCCESS;
  if (!emulation::Copy(source, destination, failIfExists != FALSE, &error)) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
