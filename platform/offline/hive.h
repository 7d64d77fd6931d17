// HKEY_LOCAL_MACHINE\SOFTWARE of an offline NT installation: its SOFTWARE hive, read and
// changed with libhivex. A hive is only ever replaced whole, never written in place, and one
// that Windows did not leave clean is never written at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/emulation/regedit4.h"
#include "platform/emulation/unique_fd.h"
#include "platform/win32.h"

namespace offline {

// The hive: the open folder that holds it and its name there, as found on disk.
struct HiveFile {
  emulation::UniqueFd folder;
  std::string name;
  std::string path;  // where it is on the host, for messages
};

// Which HKLM\SOFTWARE a key path names: on 64-bit Windows a 32-bit program's is the hive's
// WOW6432Node.
enum class View { kNative, kWow64 };

// Whether Windows left the hive whole and clean: its base block names a hive, its two sequence
// numbers agree and its checksum is right. Reads the base block only. ERROR_BADDB, with *why
// saying what the user can do about it, when not.
DWORD CheckHive(const HiveFile& hive, std::string* why);

// Each function below takes keyPath as RegOpenKeyExA's callers reach it,
// "HKEY_LOCAL_MACHINE\SOFTWARE\...", names matched without regard to ASCII case; a key outside
// HKLM\SOFTWARE is missing. It answers with Windows' error codes, *why set when the hive itself
// is at fault.

// Whether keyPath is an existing key (ERROR_FILE_NOT_FOUND when not: keys are never created);
// forWriting also asks whether the hive may be replaced (ERROR_ACCESS_DENIED when not).
DWORD OpenKey(const HiveFile& hive, std::string_view keyPath, View view, bool forWriting,
              std::string* why);

// The values of the key keyPath, in the order the hive holds them, as the ANSI calls give them:
// the data of a string type in the ANSI code page.
DWORD ReadValues(const HiveFile& hive, std::string_view keyPath, View view,
                 emulation::NamedValues* values, std::string* why);

// Sets values on the existing key keyPath, as RegSetValueExA does, all at once: under the lock
// of the hive's folder and on the hive as it is then. A value of the same name keeps its name
// and place and takes the new type and data; a new one goes last; every other value stays. A
// string is stored in UTF-16 with its terminating zero, also when the data lacks one. When the
// key holds them all already, nothing is written; otherwise a new hive is written beside the
// old one, flushed and renamed over it, keeping its Windows security. ERROR_KEY_DELETED when
// the key is gone; ERROR_NOT_SUPPORTED, the hive left as it is, when the key holds a value of
// more than 16,344 bytes, which Windows keeps in big-data cells that libhivex cannot write.
DWORD SetValues(const HiveFile& hive, std::string_view keyPath, View view,
                const emulation::NamedValues& values, std::string* why);

}  // namespace offline
