// The SOFTWARE hive through libhivex. libhivex's own commit rewrites its file in place, unflushed:
// here it only ever writes the new file that ReplaceFile hands over, never the hive itself.
#include "platform/offline/hive.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/emulation/ascii.h"
#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/report.h"
#include "platform/emulation/windows_files.h"
#include "platform/emulation/windows_path.h"

namespace offline {
namespace {

using emulation::UniqueFd;

// The base block, the hive's first 4 KiB: "regf", two sequence numbers Windows makes equal once
// it has written the hive whole, the size of the hive bins after it, in 4 KiB. Windows sets the
// file's size in steps of 256 KiB, so the file may go on after its bins by less than that.
constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kPrimarySequence = 4, kSecondarySequence = 8, kBinsSize = 40;
constexpr std::uint64_t kFileStep = 256 * 1024;
// Windows keeps data longer than this in big-data cells, which libhivex does not write back:
// a key holding such a value is left as it is.
constexpr std::size_t kLargestPlainData = 16344;

constexpr char kLeftAsItIs[] = ", so it is left as it is";
constexpr char kAdvice[] = ": start Windows and shut it down fully, then run again";
constexpr char kHiveRoot[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";
constexpr char kWow64Node[] = "WOW6432Node";

// A value's type is the 32-bit number the hive stores, whatever libhivex's enumeration names:
// it is copied across as bytes, never read as the enumeration.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t), "a value's type is 32 bits");
std::uint32_t TypeNumber(const hive_type& type) {
  std::uint32_t number;
  std::memcpy(&number, &type, sizeof number);
  return number;
}

using Hive = std::unique_ptr<hive_h, int (*)(hive_h*)>;
struct Free {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Malloced = std::unique_ptr<T, Free>;

// A value as the hive holds it: its name in UTF-8, its data as stored.
struct Held {
  std::string name;
  std::uint32_t type;
  std::string data;
};

// The hive as last read or written, kept while the file is the same one, so that it is read once
// a run: a program that changes the file gives it a new identity, size or change time.
struct Kept {
  struct stat identity;
  Hive hive{nullptr, hivex_close};
} kept;

std::string ProcPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

std::string Failed(int error) {
  return std::string(" (") + std::strerror(error) + ")" + kLeftAsItIs;
}

// Why the file is not the hive its base block describes, in words; "" when it is. libhivex
// reads the whole file, so its size is held to the bins first; that the bins tile the space
// the header gives them, libhivex checks as it reads them.
std::string FaultOf(int file) {
  char block[kBaseBlockSize];
  struct stat status;
  const ssize_t got = fstat(file, &status) == 0 ? pread(file, block, sizeof block, 0) : -1;
  if (got < 0) return std::string("cannot be read") + Failed(errno);
  if (got < static_cast<ssize_t>(sizeof block) || std::memcmp(block, "regf", 4) != 0) {
    return "not a registry hive";
  }
  const auto number = [&](std::size_t at) {
    return emulation::LittleEndian(std::string_view(block + at, 4));
  };
  if (number(kPrimarySequence) != number(kSecondarySequence)) {
    return std::string("Windows did not finish writing it (it was not shut down cleanly, or ") +
           "fast startup or hibernation keeps it in use)" + kLeftAsItIs + kAdvice;
  }
  const std::uint64_t bins = number(kBinsSize), size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t end = kBaseBlockSize + bins;
  if (bins == 0 || bins % kBaseBlockSize != 0 || end > size) {
    return "its header claims " + std::to_string(bins) + " bytes of hive bins where the file " +
           "holds " + std::to_string(size - std::min<std::uint64_t>(size, kBaseBlockSize)) +
           kLeftAsItIs;
  }
  if (size > (end + kFileStep - 1) / kFileStep * kFileStep) {
    return "the file goes on for " + std::to_string(size - end) +
           " bytes after its hive bins, more than Windows leaves there" + kLeftAsItIs;
  }
  return "";
}

// What libhivex's refusal to open a file of the right size means.
std::string OpenFault(int error) {
  if (error == EINVAL) return std::string("its header checksum is wrong") + kLeftAsItIs + kAdvice;
  if (error == ENOTSUP) return std::string("its hive bins are damaged") + kLeftAsItIs;
  return "cannot be read as a hive" + Failed(error);
}

// The hive as it is now, checked and read into memory, where it may be changed; nothing, with
// *error and *why set, when it cannot be used.
hive_h* Current(const HiveFile& hive, DWORD* error, std::string* why) {
  struct stat now;
  if (fstatat(hive.folder.get(), hive.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && kept.hive &&
      emulation::SameFile(now, kept.identity)) {
    return kept.hive.get();
  }
  kept.hive.reset();
  const UniqueFd file = emulation::OpenForReading(hive.folder.get(), hive.name, false, error);
  if (!file) {
    *why = emulation::WhyUnreadable(hive.folder.get(), hive.name);
    return nullptr;
  }
  *error = ERROR_BADDB;
  if (!(*why = FaultOf(file.get())).empty()) return nullptr;
  Hive opened(hivex_open(ProcPath(file.get()).c_str(), HIVEX_OPEN_WRITE), hivex_close);
  if (!opened) {
    *why = OpenFault(errno);
    return nullptr;
  }
  fstat(file.get(), &now);
  kept = {now, std::move(opened)};
  return kept.hive.get();
}

// Windows' ANSI code page taken as Latin-1, the part of it that names and values here use.
std::string Utf8(std::string_view ansi) {
  std::string text;
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) text.push_back(static_cast<char>(0xc0 | byte >> 6));
    text.push_back(byte < 0x80 ? c : static_cast<char>(0x80 | (byte & 0x3f)));
  }
  return text;
}

bool IsString(std::uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data as RegSetValueExA stores it: a string in UTF-16, each byte a character.
std::string Stored(const emulation::RegistryValue& value) {
  std::string text;
  for (const char c : value.data) text.append({c, '\0'});
  return IsString(value.type) ? text : value.data;
}

// The data as RegQueryValueExA gives it: a string in the ANSI code page, a character it cannot
// hold as '?' and an odd last byte dropped.
emulation::RegistryValue Given(std::uint32_t type, const std::string& data) {
  if (!IsString(type)) return {type, data};
  std::string text;
  for (std::size_t at = 0; at + 1 < data.size(); at += 2) {
    const bool ansi = data[at + 1] == '\0';
    text.push_back(ansi ? data[at] : '?');
  }
  return {type, text};
}

// Calls use with the hive as it is now and the key keyPath leads to in it, under the lock of the
// hive's folder. ERROR_FILE_NOT_FOUND, *why naming the path looked at, when the key is missing;
// ERROR_BADDB when a key on the way cannot be read.
template <typename Use>
DWORD WithKey(const HiveFile& hive, std::string_view keyPath, View view, std::string* why,
              const Use& use) {
  emulation::FolderLock lock(hive.folder.get());
  DWORD error = ERROR_SUCCESS;
  hive_h* current = Current(hive, &error, why);
  if (current == nullptr) return error;
  std::vector<std::string> names = emulation::SplitWindowsPath(keyPath);
  const std::vector<std::string> root = emulation::SplitWindowsPath(kHiveRoot);
  const bool inHive = names.size() >= 2 && emulation::EqualsIgnoringCase(names[0], root[0]) &&
                      emulation::EqualsIgnoringCase(names[1], root[1]);
  if (inHive) names.erase(names.begin(), names.begin() + 2);
  if (view == View::kWow64) names.insert(names.begin(), kWow64Node);
  std::string shown = kHiveRoot;
  hive_node_h key = inHive ? hivex_root(current) : 0;
  for (const std::string& name : names) {
    shown += "\\" + name;
    errno = 0;
    if (key != 0) key = hivex_node_get_child(current, key, Utf8(name).c_str());
    if (key == 0 && errno != 0) {
      *why = "the key " + emulation::Quoted(shown) + " cannot be read" + Failed(errno);
      return ERROR_BADDB;
    }
  }
  if (key != 0) return use(current, key);
  *why = "holds no key " + emulation::Quoted(inHive ? shown : std::string(keyPath));
  return ERROR_FILE_NOT_FOUND;
}

// The values of key as the hive holds them; ERROR_BADDB when one cannot be read whole.
DWORD ReadHeld(hive_h* hive, hive_node_h key, std::vector<Held>* held, std::string* why) {
  errno = 0;
  const Malloced<hive_value_h> values(hivex_node_values(hive, key));
  for (const hive_value_h* value = values.get(); value != nullptr && *value != 0; ++value) {
    const Malloced<char> name(hivex_value_key(hive, *value));
    hive_type type;
    std::size_t size = 0;
    const Malloced<char> data(name ? hivex_value_value(hive, *value, &type, &size) : nullptr);
    if (!name || (!data && size != 0)) break;
    held->push_back({name.get(), TypeNumber(type), std::string(data.get(), data ? size : 0)});
  }
  if (values && held->size() == hivex_node_nr_values(hive, key)) return ERROR_SUCCESS;
  *why = "a value of the key cannot be read" + Failed(errno);
  return ERROR_BADDB;
}

// Where the value of that name is among held; held.end() when there is none.
std::vector<Held>::iterator Find(std::vector<Held>* held, const std::string& name) {
  const std::string wanted = Utf8(name);
  return std::find_if(held->begin(), held->end(), [&](const Held& value) {
    return emulation::EqualsIgnoringCase(value.name, wanted);
  });
}

// Puts a value among held as Windows would; false when held has it already.
bool Merge(std::vector<Held>* held, const std::string& name,
           const emulation::RegistryValue& value) {
  Held wanted{Utf8(name), value.type, Stored(value)};
  for (Held& old : *held) {
    if (!emulation::EqualsIgnoringCase(old.name, wanted.name)) continue;
    if (old.type == wanted.type && old.data == wanted.data) return false;
    old.type = wanted.type;
    old.data = std::move(wanted.data);
    return true;
  }
  held->push_back(std::move(wanted));
  return true;
}

DWORD Store(hive_h* hive, hive_node_h key, std::vector<Held>* held, std::string* why) {
  std::vector<hive_set_value> values;
  for (Held& value : *held) {
    if (value.data.size() > kLargestPlainData) {
      *why = "the key holds a value too long to write back" + std::string(kLeftAsItIs);
      return ERROR_NOT_SUPPORTED;
    }
    values.push_back({value.name.data(), {}, value.data.size(), value.data.data()});
    std::memcpy(&values.back().t, &value.type, sizeof value.type);
  }
  if (hivex_node_set_values(hive, key, values.size(), values.data(), 0) == 0) return ERROR_SUCCESS;
  *why = "cannot be changed" + Failed(errno);
  return emulation::WindowsError(errno);
}

// Whether this user may replace the hive (a drive mounted read-only is refused before).
DWORD MayWrite(const HiveFile& hive, std::string* why) {
  DWORD error = ERROR_SUCCESS;
  if (emulation::MayReplace(hive.folder.get(), hive.name, &error)) return ERROR_SUCCESS;
  *why = "this user may not replace it";
  return error;
}

// Writes the changed hive to a new file, which takes the old one's place; the hive kept is
// then the new file's.
DWORD Replace(const HiveFile& hive, hive_h* changed, std::string* why) {
  const auto write = [&](int to, DWORD* error) {
    if (hivex_commit(changed, ProcPath(to).c_str(), 0) == 0) return true;
    *error = emulation::WindowsError(errno);
    return false;
  };
  struct stat status;
  DWORD error = ERROR_SUCCESS;
  if (fstatat(hive.folder.get(), hive.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    error = emulation::WindowsError(errno);
  } else if (emulation::ReplaceFile(hive.folder.get(), hive.name, status.st_mode, write, &error) &&
             fstatat(hive.folder.get(), hive.name.c_str(), &kept.identity, AT_SYMLINK_NOFOLLOW) ==
                 0) {
    return ERROR_SUCCESS;
  }
  kept.hive.reset();  // changed in memory, not on disk
  if (error == ERROR_SUCCESS) error = emulation::WindowsError(errno);
  *why = "cannot be saved: " + emulation::ErrorText(error);
  return error;
}

}  // namespace

DWORD OpenKey(const HiveFile& hive, std::string_view keyPath, View view, bool forWriting,
              std::string* why) {
  return WithKey(hive, keyPath, view, why, [&](hive_h*, hive_node_h) {
    return forWriting ? MayWrite(hive, why) : ERROR_SUCCESS;
  });
}

DWORD ReadSettings(const HiveFile& hive, std::string_view keyPath, View view,
                   const std::vector<const char*>& names, std::vector<Setting>* settings,
                   std::string* why) {
  return WithKey(hive, keyPath, view, why, [&](hive_h* current, hive_node_h key) -> DWORD {
    for (const char* name : names) {
      Setting& setting = settings->emplace_back();
      hive_type type;
      std::size_t size;
      errno = 0;
      const hive_value_h value = hivex_node_get_value(current, key, name);
      const bool typed = value != 0 && hivex_value_type(current, value, &type, &size) == 0;
      const std::uint32_t number = typed ? TypeNumber(type) : REG_NONE;
      if (number == REG_SZ || number == REG_EXPAND_SZ) {
        const Malloced<char> text(hivex_value_string(current, value));
        if (text) setting.text = text.get();
      } else if (number == REG_DWORD) {
        setting.number = static_cast<DWORD>(hivex_value_dword(current, value));
      }
      if (errno != 0) {
        *why = "the value " + emulation::Quoted(name) + " cannot be read" + Failed(errno);
        return ERROR_BADDB;
      }
    }
    return ERROR_SUCCESS;
  });
}

DWORD ReadValue(const HiveFile& hive, std::string_view keyPath, View view, const std::string& name,
                emulation::RegistryValue* value, std::string* why) {
  const DWORD error = WithKey(hive, keyPath, view, why, [&](hive_h* current, hive_node_h key) {
    std::vector<Held> held;
    if (const DWORD failed = ReadHeld(current, key, &held, why)) return failed;
    const auto found = Find(&held, name);
    if (found == held.end()) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    *value = Given(found->type, found->data);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  // A missing key has said where it was looked for; a missing value says nothing.
  return error == ERROR_FILE_NOT_FOUND && !why->empty() ? ERROR_KEY_DELETED : error;
}

DWORD ChangeValues(const HiveFile& hive, std::string_view keyPath, View view,
                   const emulation::NamedValues& set, const std::vector<std::string>& removed,
                   std::string* why) {
  const DWORD error = WithKey(hive, keyPath, view, why, [&](hive_h* current, hive_node_h key) {
    std::vector<Held> held;
    bool changed = false;
    DWORD failed = ReadHeld(current, key, &held, why);
    for (const auto& [name, value] : set) changed = Merge(&held, name, value) || changed;
    for (const std::string& name : removed) {
      const auto found = Find(&held, name);
      if (found == held.end()) continue;
      held.erase(found);
      changed = true;
    }
    if (failed != ERROR_SUCCESS || !changed) return failed;  // nothing changed is not written
    if ((failed = MayWrite(hive, why)) != ERROR_SUCCESS) return failed;
    if ((failed = Store(current, key, &held, why)) != ERROR_SUCCESS) kept.hive.reset();
    return failed != ERROR_SUCCESS ? failed : Replace(hive, current, why);
  });
  return error == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : error;
}

}  // namespace offline
