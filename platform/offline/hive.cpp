// The SOFTWARE hive through libhivex. libhivex's own commit rewrites its file in place, unflushed:
// here it only ever writes the new file that ReplaceFile hands over, never the hive itself.
#include "platform/offline/hive.h"

#include <fcntl.h>
#include <hivex.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/emulation/errors.h"
#include "platform/emulation/host_files.h"
#include "platform/emulation/windows_files.h"

namespace offline {
namespace {

using emulation::UniqueFd;
using emulation::WindowsError;

// The base block, the hive's first 4 KiB: "regf", two sequence numbers that Windows makes
// equal once it has written the hive whole, and a checksum of its first 508 bytes.
constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kSmallestHive = 8192;  // a base block and one bin
constexpr std::size_t kPrimarySequence = 4;
constexpr std::size_t kSecondarySequence = 8;
constexpr std::size_t kChecksumOffset = 508;
// Windows keeps data longer than this in big-data cells, which libhivex does not write back:
// a key holding such a value is left as it is.
constexpr std::size_t kLargestPlainData = 16344;

constexpr char kAdvice[] = "start Windows and shut it down fully, then run again";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kHiveRoot[] = "SOFTWARE";
constexpr char kWow64Node[] = "WOW6432Node";

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;
struct Free {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Malloced = std::unique_ptr<T, Free>;

// A value as the hive holds it: its name in UTF-8, its data as stored.
struct Held {
  std::string name;
  hive_type type;
  std::string data;
};

// The hive as this process last read or wrote it, kept while the file is the same one: read
// once in a run, not once a key. A program that changes the file gives it another identity,
// a new file as this setup makes, or another size or change time.
struct Kept {
  std::string path;
  struct stat identity;
  Hive hive;
};
Kept kept;

bool Same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string ProcPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

std::uint32_t Little32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
         static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Windows' checksum: the XOR of the first 127 double words, where 0 and ~0 are never used.
std::uint32_t Checksum(const unsigned char* block) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < kChecksumOffset; at += 4) sum ^= Little32(block + at);
  return sum == 0 ? 1 : sum == ~0u ? ~1u : sum;
}

// What keeps the hive from being used, in words for the user; "" when nothing does.
std::string FaultOf(const unsigned char* block, std::size_t size) {
  if (size < kSmallestHive || std::memcmp(block, "regf", 4) != 0) return "not a registry hive";
  if (Little32(block + kPrimarySequence) != Little32(block + kSecondarySequence)) {
    return std::string("Windows did not finish writing it (it was not shut down cleanly, or ") +
           "fast startup or hibernation keeps it in use), so it is left as it is: " + kAdvice;
  }
  if (Checksum(block) != Little32(block + kChecksumOffset)) {
    return std::string("its header checksum is wrong, so it is left as it is: ") + kAdvice;
  }
  return "";
}

DWORD CheckFile(int file, std::string* why) {
  unsigned char block[kBaseBlockSize] = {};
  struct stat status;
  const ssize_t got = fstat(file, &status) == 0 ? pread(file, block, sizeof block, 0) : -1;
  if (got < 0) {
    *why = std::strerror(errno);
    return WindowsError(errno);
  }
  *why = FaultOf(block, static_cast<std::size_t>(got) < sizeof block
                            ? 0
                            : static_cast<std::size_t>(status.st_size));
  return why->empty() ? ERROR_SUCCESS : ERROR_BADDB;
}

// Windows' ANSI code page taken as Latin-1, the part of it that names and values here use.
std::string Utf8(std::string_view ansi) {
  std::string text;
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xc0 | byte >> 6));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3f)));
    }
  }
  return text;
}

std::string Ansi(std::string_view utf8) {
  std::string text;
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    const auto byte = static_cast<unsigned char>(utf8[at]);
    if (byte < 0x80) {
      text.push_back(utf8[at]);
    } else if ((byte == 0xc2 || byte == 0xc3) && at + 1 < utf8.size()) {
      text.push_back(static_cast<char>((byte & 0x03) << 6 | (utf8[++at] & 0x3f)));
    } else if ((byte & 0xc0) != 0x80) {
      text.push_back('?');  // a character the code page has not
    }
  }
  return text;
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data as RegSetValueExA stores it: a string in UTF-16, ending in a zero.
std::string Stored(const emulation::RegistryValue& value) {
  if (!IsString(value.type)) return value.data;
  std::string text;
  for (const char c : value.data) text.append({c, '\0'});
  if (text.empty() || text.compare(text.size() - 2, 2, std::string(2, '\0')) != 0) {
    text.append(2, '\0');
  }
  return text;
}

std::string Unstored(const Held& value) {
  if (!IsString(value.type)) return value.data;
  std::string text;
  for (std::size_t at = 0; at + 1 < value.data.size(); at += 2) {
    text.push_back(value.data[at + 1] == 0 ? value.data[at] : '?');
  }
  return text;
}

// The names below the hive's root that keyPath leads to; nothing outside HKLM\SOFTWARE.
std::optional<std::vector<std::string>> NamesInHive(std::string_view keyPath, View view) {
  std::vector<std::string> names;
  for (std::size_t begin = 0; begin < keyPath.size();) {
    const std::size_t end = std::min(keyPath.find('\\', begin), keyPath.size());
    if (end > begin) names.push_back(Utf8(keyPath.substr(begin, end - begin)));
    begin = end + 1;
  }
  if (names.size() < 2 || strcasecmp(names[0].c_str(), kRootName) != 0 ||
      strcasecmp(names[1].c_str(), kHiveRoot) != 0) {
    return std::nullopt;
  }
  names.erase(names.begin(), names.begin() + 2);
  if (view == View::kWow64) names.insert(names.begin(), kWow64Node);
  return names;
}

hive_node_h FindKey(hive_h* hive, std::string_view keyPath, View view) {
  const std::optional<std::vector<std::string>> names = NamesInHive(keyPath, view);
  hive_node_h key = names ? hivex_root(hive) : 0;
  for (std::size_t at = 0; key != 0 && at < names->size(); ++at) {
    key = hivex_node_get_child(hive, key, (*names)[at].c_str());
  }
  return key;
}

// The hive as it is now, checked and read into memory, where it may be changed; nothing, with
// *error and *why set, when it cannot be used.
hive_h* Current(const HiveFile& hive, DWORD* error, std::string* why) {
  struct stat now;
  if (fstatat(hive.folder.get(), hive.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && kept.hive &&
      kept.path == hive.path && Same(now, kept.identity)) {
    return kept.hive.get();
  }
  kept.hive.reset();
  const UniqueFd file = emulation::OpenForReading(hive.folder.get(), hive.name, false, error);
  if (!file) {
    *why = emulation::WhyUnreadable(hive.folder.get(), hive.name);
    return nullptr;
  }
  if ((*error = CheckFile(file.get(), why)) != ERROR_SUCCESS) return nullptr;
  Hive opened(hivex_open(ProcPath(file.get()).c_str(), HIVEX_OPEN_WRITE));
  if (!opened) {
    *error = errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BADDB;
    if (errno != ENOMEM) *why = std::string("cannot be read as a hive: ") + std::strerror(errno);
    return nullptr;
  }
  fstat(file.get(), &now);
  kept = {hive.path, now, std::move(opened)};
  return kept.hive.get();
}

DWORD ReadHeld(hive_h* hive, hive_node_h key, std::vector<Held>* held, std::string* why) {
  const Malloced<hive_value_h> values(hivex_node_values(hive, key));
  for (const hive_value_h* value = values.get(); value != nullptr && *value != 0; ++value) {
    const Malloced<char> name(hivex_value_key(hive, *value));
    hive_type type;
    std::size_t size = 0;
    const Malloced<char> data(hivex_value_value(hive, *value, &type, &size));
    if (!name || (!data && size != 0)) break;
    held->push_back({name.get(), type, std::string(data.get(), data ? size : 0)});
  }
  if (values && held->size() == hivex_node_nr_values(hive, key)) return ERROR_SUCCESS;
  *why = std::string("a value cannot be read: ") + std::strerror(errno);
  return ERROR_BADDB;
}

// Puts a value among held as Windows would; false when held has it already.
bool Merge(std::vector<Held>* held, const std::string& name,
           const emulation::RegistryValue& value) {
  Held wanted{Utf8(name), static_cast<hive_type>(value.type), Stored(value)};
  for (Held& old : *held) {
    if (strcasecmp(old.name.c_str(), wanted.name.c_str()) != 0) continue;
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
      *why = "the key holds a value too long for this setup to write back, so it is left as it is";
      return ERROR_NOT_SUPPORTED;
    }
    values.push_back({value.name.data(), value.type, value.data.size(), value.data.data()});
  }
  return hivex_node_set_values(hive, key, values.size(), values.data(), 0) == 0
             ? ERROR_SUCCESS
             : WindowsError(errno);
}

// Whether the hive may be replaced: on a drive mounted for writing, by this user.
DWORD MayWrite(const HiveFile& hive, std::string* why) {
  struct statvfs volume;
  if (fstatvfs(hive.folder.get(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
    *why = "the drive is mounted read-only: mount it for writing";
    return ERROR_ACCESS_DENIED;
  }
  DWORD error = ERROR_SUCCESS;
  if (emulation::MayReplace(hive.folder.get(), hive.name, &error)) return ERROR_SUCCESS;
  *why = "this user may not replace it";
  return error;
}

// Writes the changed hive to a new file, which takes the old one's place; the hive kept is
// then the new file's.
DWORD Replace(const HiveFile& hive, hive_h* changed) {
  struct stat status;
  if (fstatat(hive.folder.get(), hive.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return WindowsError(errno);
  }
  const auto write = [&](int to, DWORD* error) {
    if (hivex_commit(changed, ProcPath(to).c_str(), 0) != 0) {
      *error = WindowsError(errno);
      return false;
    }
    return true;
  };
  DWORD error = ERROR_SUCCESS;
  if (!emulation::ReplaceFile(hive.folder.get(), hive.name, status.st_mode, write, &error) ||
      fstatat(hive.folder.get(), hive.name.c_str(), &kept.identity, AT_SYMLINK_NOFOLLOW) != 0) {
    kept.hive.reset();  // changed in memory, not on disk
    return error != ERROR_SUCCESS ? error : WindowsError(errno);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CheckHive(const HiveFile& hive, std::string* why) {
  DWORD error = ERROR_SUCCESS;
  const UniqueFd file = emulation::OpenForReading(hive.folder.get(), hive.name, false, &error);
  if (!file) {
    *why = emulation::WhyUnreadable(hive.folder.get(), hive.name);
    return error;
  }
  return CheckFile(file.get(), why);
}

DWORD OpenKey(const HiveFile& hive, std::string_view keyPath, View view, bool forWriting,
              std::string* why) {
  DWORD error = ERROR_SUCCESS;
  hive_h* current = Current(hive, &error, why);
  if (current == nullptr) return error;
  if (FindKey(current, keyPath, view) == 0) return ERROR_FILE_NOT_FOUND;
  return forWriting ? MayWrite(hive, why) : ERROR_SUCCESS;
}

DWORD ReadValues(const HiveFile& hive, std::string_view keyPath, View view,
                 emulation::NamedValues* values, std::string* why) {
  DWORD error = ERROR_SUCCESS;
  hive_h* current = Current(hive, &error, why);
  if (current == nullptr) return error;
  const hive_node_h key = FindKey(current, keyPath, view);
  if (key == 0) return ERROR_FILE_NOT_FOUND;
  std::vector<Held> held;
  if ((error = ReadHeld(current, key, &held, why)) != ERROR_SUCCESS) return error;
  for (const Held& value : held) {
    values->emplace_back(Ansi(value.name), emulation::RegistryValue{value.type, Unstored(value)});
  }
  return ERROR_SUCCESS;
}

DWORD SetValues(const HiveFile& hive, std::string_view keyPath, View view,
                const emulation::NamedValues& values, std::string* why) {
  emulation::FolderLock lock(hive.folder.get());
  DWORD error = ERROR_SUCCESS;
  hive_h* current = Current(hive, &error, why);
  if (current == nullptr) return error;
  const hive_node_h key = FindKey(current, keyPath, view);
  if (key == 0) return ERROR_KEY_DELETED;
  std::vector<Held> held;
  if ((error = ReadHeld(current, key, &held, why)) != ERROR_SUCCESS) return error;
  bool changed = false;
  for (const auto& [name, value] : values) changed = Merge(&held, name, value) || changed;
  if (!changed) return ERROR_SUCCESS;  // a write that changes nothing is not written
  if ((error = MayWrite(hive, why)) != ERROR_SUCCESS) return error;
  if ((error = Store(current, key, &held, why)) != ERROR_SUCCESS) {
    kept.hive.reset();
    return error;
  }
  return Replace(hive, current);
}

}  // namespace offline
