// CopyFileA and DeleteFileA: a file copied into the machine replaces the old one in a single step,
// so an interrupted or failed copy never leaves a truncated decoder and never loses the old one;
// copies and deletions in one folder take turns.
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

// Deletes the file, never a folder or what a link leads to, nor a decoder in use.
// *told says why beside the path where the error code alone would not.
bool DeleteIn(const Location& file, DWORD* error, std::string* told) {
  const int folder = file.folder.get();
  FolderLock turn(folder);
  const mode_t type = TypeOf(folder, file.name);
  if (type == 0) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  if (type == S_IFLNK)
    *told = ", a link, which is never followed: " + ErrorText(ERROR_ACCESS_DENIED);
  // One rule for every file of the machine: a folder, a read-only file or a folder this user may
  // not write refuses it, as Windows' file security would.
  if (!MayReplace(folder, file.name, error)) return false;
  const UniqueFd existing(
      openat(folder, file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!existing) {
    *error = WindowsError(errno);
    return false;
  }
  // A decoder a running program holds (flock) is in use: Windows will not delete a loaded DLL,
  // and answers that access is denied. The lock taken here is held until the name is gone.
  if (flock(existing.get(), LOCK_EX | LOCK_NB) != 0) {
    *error = ERROR_ACCESS_DENIED;
    *told = ": in use by another program (Windows error " + std::to_string(*error) + ")";
    return false;
  }
  if (unlinkat(folder, file.name.c_str(), 0) != 0) {
    *error = WindowsError(errno);
    return false;
  }
  fsync(folder);  // makes the removal last
  return true;
}

bool Delete(LPCSTR name, DWORD* error) {
  if (!MachineIsOpen()) {
    *error = ERROR_NOT_READY;
    return false;
  }
  if (name == nullptr) {
    *error = ERROR_PATH_NOT_FOUND;  // Wine's answer
    return false;
  }
  const std::optional<Location> file = Locate(name, error);
  std::string told;
  if (file && DeleteIn(*file, error, &told)) return true;
  // A file that is not there is what a deletion wants: only other failures are told.
  if (*error != ERROR_FILE_NOT_FOUND) {
    const std::string shown = file ? HostPath(file->folder.get(), file->name) : name;
    ReportMachineFault("cannot delete " + Quoted(shown) +
                       (told.empty() ? ": " + ErrorText(*error) : told));
  }
  return false;
}

}  // namespace
}  // namespace emulation

extern "C" BOOL DeleteFileA(LPCSTR name) {
  DWORD error = ERROR_SUCCESS;
  if (!emulation::Delete(name, &error)) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

extern "C" BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  DWORD error = ERROR_SUCCESS;
  if (!emulation::Copy(source, destination, failIfExists != FALSE, &error)) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
