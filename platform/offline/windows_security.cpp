// ntfs-3g shows each file's Windows metadata as extended attributes it does not list: each is
// asked for by name.
#include "platform/offline/windows_security.h"

#include <sys/types.h>
#include <sys/xattr.h>

#include <cerrno>
#include <vector>

namespace offline {
namespace {

// What Windows keeps of a file it overwrites: its security descriptor, its attributes (hidden,
// system, archive...) and when it was created. The other times belong to the new content.
constexpr const char* kCarried[] = {"system.ntfs_acl", "system.ntfs_attrib", "system.ntfs_crtime"};

// The attribute's value, or nothing with errno set; ENODATA or ENOTSUP when there is none.
bool Read(int file, const char* name, std::vector<char>* value) {
  for (;;) {
    const ssize_t size = fgetxattr(file, name, nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<std::size_t>(size));
    const ssize_t got = fgetxattr(file, name, value->data(), value->size());
    if (got >= 0) {
      value->resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // it grew in between: ask again
  }
}

bool NothingToCarry(int error) {
  return error == ENODATA || error == ENOTSUP;  // EOPNOTSUPP is the same number on Linux
}

}  // namespace

bool CarryWindowsSecurity(int oldFile, int newFile) {
  std::vector<char> value;
  for (const char* name : kCarried) {
    if (!Read(oldFile, name, &value)) {
      if (NothingToCarry(errno)) continue;
      return false;
    }
    if (fsetxattr(newFile, name, value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

}  // namespace offline
