#include "platform/emulation/regedit4_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/emulation/host_files.h"
#include "platform/emulation/layout.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"

namespace emulation {
namespace {

constexpr char kEmptyStore[] = "REGEDIT4\r\n\r\n";  // what a machine without HKLM.reg holds
constexpr mode_t kNewStoreMode = 0644;

class Regedit4File {
 public:
  explicit Regedit4File(int folder) : folder_(fcntl(folder, F_DUPFD_CLOEXEC, 0)) {}

  LONG Open(const std::string& path, bool writable) {
    if (const LONG error = ReadUnlessKnown(path)) return error;
    if (!key_->Exists()) {  // opened, never created
      Report("holds no key " + Quoted(path));
      return ERROR_FILE_NOT_FOUND;
    }
    DWORD error = ERROR_SUCCESS;
    // Windows refuses to write a read-only hive.
    if (writable && !MayReplace(folder_.get(), kRegistryFile, &error)) {
      Report("may not be changed: " + ErrorText(error));
      return static_cast<LONG>(error);
    }
    return ERROR_SUCCESS;
  }

  LONG Value(const std::string& path, const std::string& name, RegistryValue* value) {
    if (const LONG error = ReadUnlessKnown(path)) return error;
    if (!key_->Exists()) return KeyGone(path);
    const std::optional<RegistryValue> held = key_->Value(name);
    if (!held) return ERROR_FILE_NOT_FOUND;
    *value = *held;
    return ERROR_SUCCESS;
  }

  // Under the lock, on the store as it is read now, however it was when the key was opened.
  LONG Save(const std::string& path, const NamedValues& set,
            const std::vector<std::string>& removed) {
    FolderLock lock(folder_.get());
    if (const LONG error = Read(path)) return error;
    std::optional<std::vector<Splice>> splices = key_->Set(set);
    if (!splices) return KeyGone(path);
    // Set's and Remove's changes are to lines of different values; at one offset, what Set adds
    // goes before the line that goes.
    for (Splice& splice : key_->Remove(removed)) splices->push_back(std::move(splice));
    std::stable_sort(splices->begin(), splices->end(), [](const Splice& a, const Splice& b) {
      return a.offset < b.offset || (a.offset == b.offset && a.removed < b.removed);
    });
    if (splices->empty()) return ERROR_SUCCESS;  // a write that changes nothing is not written
    struct stat status;
    const bool known =
        exists_ && fstatat(folder_.get(), kRegistryFile, &status, AT_SYMLINK_NOFOLLOW) == 0;
    const auto write = [&](int to, DWORD* error) {
      return WriteSpliced(text_, *splices,
                          [&](std::string_view piece) { return WriteAll(to, piece, error); });
    };
    DWORD error = ERROR_SUCCESS;
    if (!ReplaceFile(folder_.get(), kRegistryFile, known ? status.st_mode : kNewStoreMode, write,
                     &error)) {
      Report("cannot be saved: " + ErrorText(error));
      return static_cast<LONG>(error);
    }
    return ERROR_SUCCESS;
  }

 private:
  void Report(const std::string& reason) const {
    ReportMachineFault(HostPath(folder_.get(), kRegistryFile), reason);
  }

  LONG KeyGone(const std::string& path) const {
    Report("no longer holds key " + Quoted(path));
    return ERROR_KEY_DELETED;
  }

  // The store as Read left it, while it is the same file and the same key is asked for: a
  // program that changes the file gives it a new identity, size or change time.
  LONG ReadUnlessKnown(const std::string& path) {
    struct stat now;
    const bool same = key_ && exists_ && path == path_ &&
                      fstatat(folder_.get(), kRegistryFile, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      SameFile(now, identity_);
    return same ? ERROR_SUCCESS : Read(path);
  }

  // The store as it is now, its whole text checked, and what it says about the key at path. A
  // missing store is an empty registry.
  LONG Read(const std::string& path) {
    DWORD error = ERROR_SUCCESS;
    path_ = path;
    // Taken before the file is read: should it change in between, the next read tells.
    const bool known = fstatat(folder_.get(), kRegistryFile, &identity_, AT_SYMLINK_NOFOLLOW) == 0;
    exists_ = ReadWholeFile(folder_.get(), kRegistryFile, &text_, &error) && known;
    if (!exists_) {
      const bool missing = error == ERROR_FILE_NOT_FOUND;
      Report(WhyUnreadable(folder_.get(), kRegistryFile) +
             (missing ? "; the registry is empty" : ""));
      if (!missing) return static_cast<LONG>(error);
      text_ = kEmptyStore;
    }
    std::string why;
    key_ = RegistryKey::ReadText(path, text_, &why);
    if (key_) return ERROR_SUCCESS;
    Report("cannot be read, so it is left as it is: " + why);
    return ERROR_BADDB;
  }

  UniqueFd folder_;
  bool exists_ = false;
  std::string path_;         // of the key read last
  struct stat identity_ {};  // of the file it was read from
  std::string text_;         // its memory serves every read of a run
  std::optional<RegistryKey> key_;
};

}  // namespace

RegistryStore Regedit4Store(int machineFolder) {
  const auto file = std::make_shared<Regedit4File>(machineFolder);
  return {
      [file](const std::string& path, bool writable) { return file->Open(path, writable); },
      [file](const std::string& path, const std::string& name, RegistryValue* value) {
        return file->Value(path, name, value);
      },
      [file](const std::string& path, const NamedValues& set,
             const std::vector<std::string>& removed) { return file->Save(path, set, removed); }};
}

}  // namespace emulation
