#include "release/reg_file.h"

#include <cstddef>

#include "registration/package.h"
#include "registration/registrars.h"

namespace {

constexpr char kHeader[] = "REGEDIT4";
constexpr char kRootKey[] = "HKEY_LOCAL_MACHINE";
constexpr char kLineEnd[] = "\r\n";  // regedit reads and writes CRLF, also in REGEDIT4 files

constexpr char kDeleted[] = "-";  // in place of the data: regedit deletes the value

enum class Change { kSet, kDelete };

// One key's block: its line, one line per row, and the blank line regedit puts after each key.
template <typename Row, std::size_t kRows>
void AppendKey(std::string& text, const char* subKey, const Row (&rows)[kRows],
               RegistryString (*toString)(const Row&), Change change) {
  text += std::string("[") + kRootKey + "\\" + subKey + "]" + kLineEnd;
  for (const Row& row : rows) {
    const RegistryString value = toString(row);
    const std::string data = change == Change::kSet ? QuotedRegString(value.data) : kDeleted;
    text += QuotedRegString(value.name) + "=" + data + kLineEnd;
  }
  text += kLineEnd;
}

// The five values under their two keys, set or deleted.
std::string NtRegFile(Change change) {
  std::string text = std::string(kHeader) + kLineEnd + kLineEnd;
  // The same rows, names and data as RegisterViaRegistry writes.
  AppendKey(text, kDescriptionsKey, kDecoderFiles, DescriptionValue, change);
  AppendKey(text, kHandlersKey, kHandlerEntries, HandlerValue, change);
  return text;
}

}  // namespace

std::string QuotedRegString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string NtRegistrationRegFile() {
  return NtRegFile(Change::kSet);
}

std::string NtRemovalRegFile() {
  return NtRegFile(Change::kDelete);
}
