// release/: what ships beside vornsetup.exe. Administrators who register the decoders on many
// machines get the NT family's registration as a REGEDIT4 file, for `regedit /s`, and one that
// takes it away again.
#pragma once

#include <string>
#include <string_view>

// A string as REGEDIT4 writes a value's name or data: in double quotes, with backslash and
// double quote escaped by a backslash.
std::string QuotedRegString(std::string_view text);

// The five values the registry registrar writes, under their two keys below HKEY_LOCAL_MACHINE,
// as a whole REGEDIT4 file with CRLF line ends.
std::string NtRegistrationRegFile();

// The same five values deleted ("name"=-), whatever they hold, under the same keys, which stay.
std::string NtRemovalRegFile();
