// CopyFileA: a file copied into the machine replaces the old one in a single step, so an
// interrupted or failed copy never leaves a truncated decoder and never loses the old one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/emulation/host_files.h"
#include "platform/emulation/machine.h"
#include "platform/emulation/windows_files.h"

namespace emulation {
namespace {

// Copies the whole of from, whatever was read of it before, to the end of to.
bool CopyContents(int from, int to, DWORD* error) {
  bool kernelCopy = true;
  off_t offset = 0;
  char buffer[1 << 16];
  for (;;) {
    ssize_t copied;
    if (kernelCopy) {
      copied = copy_file_range(from, &offset, to, nullptr, 1 << 30, 0);
      // Not between these two file systems: copy through a buffer instead.
      if (copied < 0 &&
          (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        kernelCopy = false;
        continue;
      }
    } else {
      copied = pread(from, buffer, sizeof buffer, offset);
      offset += copied > 0 ? copied : 0;
      for (ssize_t done = 0; copied > 0 && done < copied;) {
        const ssize_t written = write(to, buffer + done, static_cast<std::size_t>(copied - done));
        if (written < 0 && errno != EINTR) {
          copied = -1;
          break;
        }
        done += written > 0 ? written : 0;
      }
    }
    if (copied == 0) return true;
    if (copied < 0 && errno != EINTR) {
      *error = WindowsError(errno);
      return false;
    }
  }
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
  const std::optional<Location> source = Locate(sourceName, error);
  if (!source) return false;
  const UniqueFd input =
      OpenForReading(source->folder.get(), source->name, !source->insideMachine, error);
  if (!input) return false;
  struct stat sourceStatus;
  // Only a regular file is copied: a folder, a device or a pipe is refused.
  if (fstat(input.get(), &sourceStatus) != 0 || !S_ISREG(sourceStatus.st_mode)) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }

  const std::optional<Location> destination = Locate(destinationName, error);
  if (!destination) return false;
  // Copies into one folder take turns, so that only a program using the file holds a lock on
  // it while a copy looks, and two setups at once do not take each other for one.
  FolderLock turn(destination->folder.get());
  // Whatever stands at the destination decides whether it may be replaced. The lock taken on
  // it is held until the new file has taken its place.
  if (!MayReplace(destination->folder.get(), destination->name, error)) return false;
  const UniqueFd existing(openat(destination->folder.get(), destination->name.c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status = sourceStatus;
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
        (status.st_dev == sourceStatus.st_dev && status.st_ino == sourceStatus.st_ino)) {
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
  const mode_t mode = IsReadOnly(sourceStatus) ? status.st_mode & ~kWriteBits : status.st_mode;
  // Windows copies the file's last write time with it.
  return ReplaceFile(
      destination->folder.get(), destination->name, mode,
      [&](int output, DWORD* copyError) {
        const timespec times[2] = {sourceStatus.st_atim, sourceStatus.st_mtim};
        if (!CopyContents(input.get(), output, copyError)) return false;
        if (futimens(output, times) != 0) {
          *copyError = WindowsError(errno);
          return false;
        }
        return true;
      },
      error);
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
