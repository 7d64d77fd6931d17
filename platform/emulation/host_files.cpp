// POSIX primitives under the operations: reading a plain file, replacing a file atomically,
// locking a folder.
#include "platform/emulation/host_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace emulation {
namespace {

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY;

int NoFollow(bool followLinks) {
  return followLinks ? 0 : O_NOFOLLOW;
}

// A name for a temporary file that no other process or thread picks at the same time.
std::string TemporaryName(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return ".vorn-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + name;
}

bool WriteAll(int fd, std::string_view content, DWORD* error) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      *error = WindowsError(errno);
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

UniqueFd OpenForReading(int folder, const std::string& name, bool followLinks, DWORD* error) {
  // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
  UniqueFd file(
      ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | kOpenFlags | NoFollow(followLinks)));
  if (!file) {
    *error = WindowsError(errno);
    return file;
  }
  // A Windows file is a plain file: a folder, a pipe or a device is no file to read.
  struct stat status;
  if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = ERROR_ACCESS_DENIED;
    return UniqueFd();
  }
  return file;
}

std::optional<std::string> ReadWholeFile(int folder, const std::string& name, DWORD* error) {
  UniqueFd file = OpenForReading(folder, name, false, error);
  if (!file) return std::nullopt;
  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    *error = WindowsError(errno);
    return std::nullopt;
  }
  std::string content;
  content.reserve(static_cast<std::size_t>(status.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = WindowsError(errno);
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

bool ReplaceFile(int folder, const std::string& name, mode_t mode,
                 const std::function<bool(int fd, DWORD* error)>& fill, DWORD* error) {
  const std::string temporary = TemporaryName(name);
  // An unnamed file, where the file system has them, leaves nothing behind when the process
  // is killed halfway; it gets the temporary name only once it is complete.
  bool unnamed = true;
  UniqueFd file(::openat(folder, ".", O_TMPFILE | O_WRONLY | kOpenFlags, mode & 0777));
  if (!file && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    unnamed = false;
    file = UniqueFd(
        ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, mode & 0777));
  }
  if (!file) {
    *error = WindowsError(errno);
    return false;
  }
  bool named = !unnamed;
  bool done = fill(file.get(), error);
  // Only once the new content is safely on disk may it take the old file's place. The umask
  // must not decide what the file becomes.
  if (done && (fchmod(file.get(), mode & 0777) != 0 || fsync(file.get()) != 0)) {
    *error = WindowsError(errno);
    done = false;
  }
  if (done && unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(file.get());
    named = ::linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!named) {
      *error = WindowsError(errno);
      done = false;
    }
  }
  if (done && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    *error = WindowsError(errno);
    done = false;
  }
  if (!done) {
    if (named) ::unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  fsync(folder);  // makes the rename itself last
  return true;
}

bool ReplaceFile(int folder, const std::string& name, mode_t mode, std::string_view content,
                 DWORD* error) {
  return ReplaceFile(
      folder, name, mode,
      [content](int fd, DWORD* writeError) { return WriteAll(fd, content, writeError); }, error);
}

FolderLock::FolderLock(int folder) : folder_(folder) {
  while (flock(folder_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FolderLock::~FolderLock() {
  flock(folder_, LOCK_UN);
}

}  // namespace emulation
