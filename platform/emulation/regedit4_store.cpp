#include "platform/emulation/regedit4_store.h"

#include <fcntl.h>
#include <sys/stat.h>

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
    if (const LONG error = Read(path)) return error;
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

  // Under the lock, on the store as it is read now, however it was when the key was opened.
  LONG Save(const std::string& path, const NamedValues& values) {
    FolderLock lock(folder_.get());
    if (const LONG error = Read(path)) return error;
    const std::optional<std::vector<Splice>> splices = key_->Set(values);
    if (!splices) {
      Report("no longer holds key " + Quoted(path));
      return ERROR_KEY_DELETED;
    }
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

  // The store as it is now, its whole text checked, and what it says about the key at path. A
  // missing store is an empty registry.
  LONG Read(const std::string& path) {
    DWORD error = ERROR_SUCCESS;
    exists_ = ReadWholeFile(folder_.get(), kRegistryFile, &text_, &error);
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
  std::string text_;  // its memory serves every read of a run
  std::optional<RegistryKey> key_;
};

}  // namespace

RegistryStore Regedit4Store(int machineFolder) {
  const auto file = std::make_shared<Regedit4File>(machineFolder);
  return {[file](const std::string& path, bool writable) { return file->Open(path, writable); },
          [file](const std::string& path, const NamedValues& values) {
            return file->Save(path, values);
          }};
}

}  // namespace emulation
