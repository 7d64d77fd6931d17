// HKEY_LOCAL_MACHINE\SOFTWARE of an offline NT installation: its SOFTWARE hive, read and
// changed with libhivex. A hive is only ever replaced whole, never written in place, and one
// that Windows did not leave clean, or that is not the hive its header describes, is never
// written at all.
#pragma once

#include <optional>
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
};

// Which HKLM\SOFTWARE a key path names: a 32-bit program's on 64-bit Windows is WOW6432Node.
enum class View { kNative, kWow64 };

// Each function below holds the lock of the hive's folder, and reads a hive only when it is what
// its base block says: written whole by Windows, holding the hive bins the header gives and no
// more after them than Windows leaves. keyPath is "HKEY_LOCAL_MACHINE\SOFTWARE\...", its names
// matched without regard to ASCII case. Each answers with a Windows error code and *why, the
// words the user is told: why the hive is left as it is (ERROR_BADDB), the path a missing key
// was looked for at (ERROR_FILE_NOT_FOUND, WOW6432Node included), why a save failed.

// Whether keyPath is an existing key (keys are never created); forWriting also asks whether the
// hive may be replaced (ERROR_ACCESS_DENIED when not).
DWORD OpenKey(const HiveFile& hive, std::string_view keyPath, View view, bool forWriting,
              std::string* why);

// What the values of these names of the key keyPath hold, as libhivex decodes them: a string's
// text in UTF-8, a REG_DWORD's number; neither for a value that is missing or of another type.
struct Setting {
  std::optional<std::string> text;
  std::optional<DWORD> number;
};
DWORD ReadSettings(const HiveFile& hive, std::string_view keyPath, View view,
                   const std::vector<const char*>& names, std::vector<Setting>* settings,
                   std::string* why);

// The value of that name of the key keyPath as RegQueryValueExA gives it: a string in the ANSI
// code page; ERROR_FILE_NOT_FOUND when the key holds none, ERROR_KEY_DELETED when it is gone.
DWORD ReadValue(const HiveFile& hive, std::string_view keyPath, View view, const std::string& name,
                emulation::RegistryValue* value, std::string* why);

// Sets values on the existing key keyPath (ERROR_KEY_DELETED when it is gone) and removes the
// values named all at once, as RegSetValueExA and RegDeleteValueA do: a value of the same name
// keeps its name and place, a new one goes last, every other value stays, whatever its type; a
// string is stored in UTF-16, byte for byte. When that changes nothing, nothing is written;
// otherwise a new hive replaces the old one, keeping its Windows security. ERROR_NOT_SUPPORTED
// when the key holds a value of more than 16,344 bytes, which Windows keeps in big-data cells
// that libhivex cannot write.
DWORD ChangeValues(const HiveFile& hive, std::string_view keyPath, View view,
                   const emulation::NamedValues& set, const std::vector<std::string>& removed,
                   std::string* why);

}  // namespace offline
