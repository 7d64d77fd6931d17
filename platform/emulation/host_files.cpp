// POSIX primitives: a plain file read whole or copied, a file replaced atomically, a folder locked.
#include "platform/emulation/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/emulation/errors.h"
#include "platform/emulation/report.h"

namespace emulation {
namespace {

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY;

// Every temporary file is named .vorn-<pid>-<n>-<name>: the process that writes it, and its
// count of them.
constexpr char kTemporaryPrefix[] = ".vorn-";
constexpr int kNameAttempts = 100;
// How long a lock held by another program is waited for before the user is told.
constexpr auto kQuietWait = std::chrono::seconds(1);
constexpr auto kPause = std::chrono::milliseconds(10);

std::string TemporaryName(pid_t writer, unsigned count, std::string_view name) {
  return kTemporaryPrefix + std::to_string(writer) + "-" + std::to_string(count) + "-" +
         std::string(name);
}

// The process id in a temporary file's name; 0 for any other name.
pid_t WriterOf(const char* name) {
  unsigned writer = 0, count = 0;
  int end = 0;
  std::sscanf(name, ".vorn-%9u-%9u-%n", &writer, &count, &end);
  // Only the very form TemporaryName gives: no signs, blanks or leading zeros, and a name.
  const auto pid = static_cast<pid_t>(writer);
  const bool exact = end > 0 && name[end] != '\0' &&
                     TemporaryName(pid, count, "") == std::string_view(name, std::size_t(end));
  return exact ? pid : 0;
}

// Removes the temporary files that killed processes left in folder. Under the folder's lock no
// process of ours has one in flight there, this one included: a file of a process that is gone,
// or of this one, is a leftover.
void RemoveStaleTemporaries(int folder) {
  ForEachName(folder, [folder](const char* name) {
    const pid_t writer = WriterOf(name);
    if (writer > 0 && (writer == getpid() || (kill(writer, 0) != 0 && errno == ESRCH))) {
      ::unlinkat(folder, name, 0);
    }
  });
}

// Root can give a file away; a user keeps at least the group, where they belong to it.
void OwnAs(int file, const struct stat& owner) {
  if (fchown(file, owner.st_uid, owner.st_gid) == 0) return;
  if (fchown(file, static_cast<uid_t>(-1), owner.st_gid) != 0) return;  // as this user made it
}

// The new file keeps the owner and group of the file it replaces, as Windows keeps the security
// of a file it overwrites; a new one gets its folder's.
void KeepOwner(int file, int folder, const std::string& name) {
  struct stat old;
  if (fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)) {
    OwnAs(file, old);
  } else {
    OwnLikeFolder(file, folder);
  }
}

// What Windows keeps of a file it overwrites, as ntfs-3g shows it in extended attributes (asked
// for by name; they are not listed): its security descriptor, attributes and creation time.
// Without them a replaced file on an NTFS drive would get ntfs-3g's default, full access for
// everyone. Where the file system keeps none there is nothing to carry.
bool KeepWindowsSecurity(int file, int folder, const std::string& name) {
  const UniqueFd old(
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | kOpenFlags));
  if (!old) return true;  // a new file, or one this user may not read: nothing to carry
  for (const char* attribute : {"system.ntfs_acl", "system.ntfs_attrib", "system.ntfs_crtime"}) {
    char value[1 << 16];
    const ssize_t size = fgetxattr(old.get(), attribute, value, sizeof value);
    if (size < 0 && (errno == ENODATA || errno == ENOTSUP)) continue;
    if (size < 0 || fsetxattr(file, attribute, value, static_cast<std::size_t>(size), 0) != 0) {
      return false;
    }
  }
  return true;
}

// One attempt at the folder's lock: false while another program holds it. Any other failure
// leaves the folder unlocked, as it always was where locks are not kept.
bool Lock(int folder, int how) {
  for (;;) {
    if (flock(folder, LOCK_EX | how) == 0) return true;
    if (errno != EINTR) return errno != EWOULDBLOCK;
  }
}

}  // namespace

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

void OwnLikeFolder(int file, int folder) {
  struct stat owner;
  if (fstat(folder, &owner) == 0) OwnAs(file, owner);
}

bool IsTemporary(const char* name) {
  return WriterOf(name) != 0;
}

bool CopyContents(int from, int to, DWORD* error) {
  char buffer[1 << 16];
  for (off_t offset = 0;;) {
    const ssize_t got = pread(from, buffer, sizeof buffer, offset);
    if (got == 0) return true;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = WindowsError(errno);
      return false;
    }
    if (!WriteAll(to, {buffer, static_cast<std::size_t>(got)}, error)) return false;
    offset += got;
  }
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string HostPath(int folder, std::string_view name) {
  char path[4096];
  const std::string self = "/proc/self/fd/" + std::to_string(folder);
  const ssize_t length = readlink(self.c_str(), path, sizeof path);
  const std::string folderPath =
      length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "a folder of the machine";
  return name.empty() ? folderPath : folderPath + "/" + std::string(name);
}

bool ForEachName(int folder, const std::function<void(const char* name)>& visit) {
  const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    if (listing >= 0) ::close(listing);
    return false;
  }
  rewinddir(entries);  // the copy shares its position with folder, wherever that was left
  while (const dirent* entry = readdir(entries)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") visit(entry->d_name);
  }
  closedir(entries);
  return true;
}

mode_t TypeOf(int folder, const std::string& name) {
  struct stat status;
  return fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 ? status.st_mode & S_IFMT
                                                                          : 0;
}

UniqueFd OpenForReading(int folder, const std::string& name, bool followLinks, DWORD* error) {
  // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
  UniqueFd file(::openat(folder, name.c_str(),
                         O_RDONLY | O_NONBLOCK | kOpenFlags | (followLinks ? 0 : O_NOFOLLOW)));
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

bool ReadWholeFile(int folder, const std::string& name, std::string* content, DWORD* error) {
  const UniqueFd file = OpenForReading(folder, name, false, error);
  struct stat status;
  if (!file) return false;
  if (fstat(file.get(), &status) != 0) {
    *error = WindowsError(errno);
    return false;
  }
  // One byte more than the file holds, so that the read that finds its end needs no more room;
  // memory too small for it is let go first, so that the file is never held twice.
  const std::size_t room = static_cast<std::size_t>(status.st_size) + 1;
  if (content->capacity() < room) std::string().swap(*content);
  content->resize(room);
  std::size_t size = 0;
  for (ssize_t got = 1; got != 0;) {
    if (size == content->size()) content->resize(2 * size);  // it grew while it was read
    got = ::read(file.get(), &(*content)[size], content->size() - size);
    if (got < 0 && errno != EINTR) {
      *error = WindowsError(errno);
      return false;
    }
    size += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  content->resize(size);
  return true;
}

std::string WhyUnreadable(int folder, const std::string& name) {
  struct stat status;
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::strerror(errno);
  if (!S_ISREG(status.st_mode)) return "not a plain file";
  if (faccessat(folder, name.c_str(), R_OK, AT_EACCESS) != 0) return std::strerror(errno);
  return "cannot be read";
}

bool ReplaceFile(int folder, const std::string& name, mode_t mode,
                 const std::function<bool(int fd, DWORD* error)>& fill, DWORD* error) {
  // A name no one else has: one a killed process of the same id left is taken, try the next.
  static unsigned count = 0;
  std::string temporary;
  UniqueFd file;
  for (int attempt = 0; !file && attempt < kNameAttempts; ++attempt) {
    temporary = TemporaryName(getpid(), count++, name);
    file = UniqueFd(
        ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, mode & 0777));
    if (!file && errno != EEXIST) break;
  }
  if (!file) {
    *error = WindowsError(errno);
    return false;
  }
  KeepOwner(file.get(), folder, name);
  // Only once the new content is safely on disk may it take the old file's place. The umask
  // must not decide what the file becomes.
  bool done = fill(file.get(), error);
  if (done && (fchmod(file.get(), mode & 0777) != 0 ||
               !KeepWindowsSecurity(file.get(), folder, name) || fsync(file.get()) != 0 ||
               ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0)) {
    *error = WindowsError(errno);
    done = false;
  }
  if (!done) {
    ::unlinkat(folder, temporary.c_str(), 0);
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
  // Another program holding the folder usually lets go within moments; one that holds it longer
  // is named, once in a run, so that the setup never waits in silence.
  static bool told = false;
  const auto start = std::chrono::steady_clock::now();
  while (!Lock(folder_, LOCK_NB)) {
    if (std::chrono::steady_clock::now() - start < kQuietWait) {
      std::this_thread::sleep_for(kPause);
      continue;
    }
    if (!std::exchange(told, true)) {
      ReportMachineFault("waiting for " + Quoted(HostPath(folder_, "")) +
                         ", held by another program");
    }
    Lock(folder_, 0);
    break;
  }
  RemoveStaleTemporaries(folder_);
}

FolderLock::~FolderLock() {
  flock(folder_, LOCK_UN);
}

}  // namespace emulation
