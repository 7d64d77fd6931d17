// Lists one key of a REGEDIT4 store the way "reg query KEY" lists it on Windows, so that an
// emulated machine's HKLM.reg can be compared with a real registry: a blank line, the key's path
// as given, a line per value (four blanks, then name, type and data, four blanks apart) and a
// blank line. Subkeys are not listed. Values come in the store's order; Windows promises none,
// so compare listings sorted.
//   reg_listing STORE KEY      exits 1, listing nothing, when the key does not exist
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/emulation/regedit4.h"
#include "platform/win32.h"

namespace {

constexpr int kNoKeyStatus = 1;
constexpr int kBadStoreStatus = 2;
constexpr int kUsageStatus = 100;
constexpr char kDefaultValueName[] = "(Default)";
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string TypeName(std::uint32_t type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:  // none of the keys compared holds another type; reg.exe would name it
      return "type " + std::to_string(type);
  }
}

std::string UpToZero(const std::string& data) {
  return data.substr(0, data.find('\0'));
}

// reg.exe drops a multi-string's two final zeros and shows each other zero as "\0".
std::string MultiStringText(const std::string& data) {
  if (data.size() <= 2) return "";
  std::string text;
  for (char c : data.substr(0, data.size() - 2))
    text += c == '\0' ? std::string("\\0") : std::string(1, c);
  return text;
}

std::string DwordText(const std::string& data) {
  std::uint32_t number = 0;
  for (std::size_t i = data.size(); i-- > 0;) {
    number = number << 8 | static_cast<unsigned char>(data[i]);
  }
  char text[sizeof "0xffffffff"];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(number));
  return text;
}

std::string HexText(const std::string& data) {
  std::string text;
  for (char c : data) {
    const auto byte = static_cast<unsigned char>(c);
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xfu];
  }
  return text;
}

std::string DataText(const emulation::RegistryValue& value) {
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return UpToZero(value.data);
    case REG_MULTI_SZ:
      return MultiStringText(value.data);
    case REG_DWORD:
      return DwordText(value.data);
    default:
      return HexText(value.data);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: reg_listing STORE KEY\n", stderr);
    return kUsageStatus;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::string error;
  const std::string key = argv[2];
  const std::optional<emulation::RegistryKey> store = emulation::RegistryKey::ReadText(
      key, std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()),
      &error);
  if (!store) {
    std::fprintf(stderr, "reg_listing: %s: %s\n", argv[1], error.c_str());
    return kBadStoreStatus;
  }
  if (!store->Exists()) return kNoKeyStatus;
  if (store->Values().empty()) return 0;  // Wine's reg.exe lists nothing for a key without values
  std::printf("\n%s\n", key.c_str());
  for (const auto& [name, value] : store->Values()) {
    std::printf("    %s    %s    %s\n", name.empty() ? kDefaultValueName : name.c_str(),
                TypeName(value.type).c_str(), DataText(value).c_str());
  }
  std::putchar('\n');
  return 0;
}
