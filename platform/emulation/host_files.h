// POSIX primitives the operations build on: read a file whole, copy one, replace one atomically,
// lock a folder.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace emulation {

// Calls visit with the name of each entry in folder but "." and "..". False when the folder
// cannot be listed.
bool ForEachName(int folder, const std::function<void(const char* name)>& visit);

// What folder/name itself is (S_IFREG, S_IFDIR, S_IFLNK...), never what a link leads to; 0 when
// nothing is there.
mode_t TypeOf(int folder, const std::string& name);

// Opens folder/name for reading: a plain file only, never waiting (ERROR_ACCESS_DENIED for a
// folder, a pipe or a device).
UniqueFd OpenForReading(int folder, const std::string& name, bool followLinks, DWORD* error);

// Reads the whole content of the regular file folder/name into *content, whose memory is used
// again; false, with *error set, when it cannot be read (ERROR_FILE_NOT_FOUND when it does not
// exist).
bool ReadWholeFile(int folder, const std::string& name, std::string* content, DWORD* error);

// Writes all of content to fd.
bool WriteAll(int fd, std::string_view content, DWORD* error);

// Copies the whole of from, whatever was read of it before, to the end of to.
bool CopyContents(int from, int to, DWORD* error);

// Why folder/name cannot be read, in words for a message: what the host says, or that it is no
// plain file.
std::string WhyUnreadable(int folder, const std::string& name);

// Whether two statuses are of the same file, unchanged: a program that changes a file gives it a
// new identity, size or change time.
bool SameFile(const struct stat& a, const struct stat& b);

// Where folder/name is on the host, for messages.
std::string HostPath(int folder, std::string_view name);

// Gives file the owner and group of folder, as far as this process may: a new file is owned
// as its folder, as on Windows it inherits its folder's permissions, so that a run as root
// leaves a user's machine the user's.
void OwnLikeFolder(int file, int folder);

// Whether name is that of a temporary file ReplaceFile writes, .vorn-<pid>-<n>-<name>.
bool IsTemporary(const char* name);

// Replaces folder/name, or creates it, so that readers only ever see the old or the new file:
// fill writes the new content into a temporary file beside it, .vorn-<pid>-<n>-<name>, which
// is flushed and renamed over the old one, and removed when anything fails. The new file gets
// mode, and the owner and group of the file it replaces (or of the folder), and on an NTFS
// drive that file's Windows security. Called with the folder's lock held, so that a temporary
// file a killed run left is removed, never reused.
bool ReplaceFile(int folder, const std::string& name, mode_t mode,
                 const std::function<bool(int fd, DWORD* error)>& fill, DWORD* error);
bool ReplaceFile(int folder, const std::string& name, mode_t mode, std::string_view content,
                 DWORD* error);

// An exclusive lock on a folder, held while a store in it is read, changed and saved, so that
// two processes changing the same store one after the other lose nothing. Taking it removes the
// temporary files that killed processes left in the folder; a wait of more than a second for
// another program is told on standard error, once in a run.
class FolderLock {
 public:
  explicit FolderLock(int folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int folder_;
};

}  // namespace emulation
