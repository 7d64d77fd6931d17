// Makes registry calls below HKEY_LOCAL_MACHINE through one key, one argument each, and prints
// each call and its result, so that Windows (or Wine) and our emulation can be given the same
// calls and compared.
//   registry_editor CALL...
//     open|SUBKEY|ACCESS     RegOpenKeyExA with the access mask in hex (3 is query and set)
//     root                   the calls after it go to HKEY_LOCAL_MACHINE itself
//     set|NAME|DATA[|COUNT]  RegSetValueExA of REG_SZ, by default counting the terminating zero
//     query|NAME|SIZE        RegQueryValueExA into a buffer of SIZE bytes; SIZE "size" passes
//                            no buffer (the size asked), "none" neither buffer nor count
//     delete|NAME            RegDeleteValueA
//     close                  RegCloseKey
// "(null)" is NULL. A line per call with its result; a query also shows the type, the count
// and the buffer's bytes, one more than its size (filled with 0xcc before), in hex.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/conformance/calls.h"

namespace {

constexpr DWORD kLargestBuffer = 64;
constexpr BYTE kPoison = 0xcc;
constexpr DWORD kUntouched = 0xdeadbeef;  // what the type and count hold before a query

DWORD Number(const std::string& text, int base) {
  return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, base));
}

const char* Argument(const std::string& text) {
  return calls::Argument(text.c_str());
}

// The fields of "a|b|c", as many as there are.
std::string Field(const std::string& call, int index) {
  std::size_t begin = 0;
  for (int i = 0; i < index; ++i) {
    begin = call.find('|', begin);
    if (begin == std::string::npos) return "";
    ++begin;
  }
  return call.substr(begin, call.find('|', begin) - begin);
}

void Query(HKEY key, const std::string& name, const std::string& size) {
  BYTE buffer[kLargestBuffer + 1];
  std::memset(buffer, kPoison, sizeof buffer);
  DWORD type = kUntouched;
  const bool noBuffer = size == "size" || size == "none";
  DWORD count = kUntouched;
  if (!noBuffer) count = std::min(Number(size, 10), kLargestBuffer);
  const DWORD shown = noBuffer ? 0 : count + 1;
  const LONG result =
      RegQueryValueExA(key, Argument(name), nullptr, &type, shown > 0 ? buffer : nullptr,
                       size == "none" ? nullptr : &count);
  std::printf("query %s %s -> %d type %x count %x data", name.c_str(), size.c_str(),
              static_cast<int>(result), static_cast<unsigned>(type), static_cast<unsigned>(count));
  for (DWORD i = 0; i < shown; ++i) std::printf(" %02x", buffer[i]);
  std::putchar('\n');
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = calls::Start(argc >= 2, "registry_editor CALL...")) return *status;
  HKEY key = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string call = argv[i], what = Field(call, 0), name = Field(call, 1);
    if (what == "open") {
      const auto access = Number(Field(call, 2), 16);
      const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, Argument(name), 0, access, &key);
      std::printf("open %s %x -> %d\n", name.c_str(), static_cast<unsigned>(access),
                  static_cast<int>(result));
    } else if (what == "root") {
      key = HKEY_LOCAL_MACHINE;
    } else if (what == "set") {
      // The count holds the terminating zero unless given.
      const std::string data = Field(call, 2), count = Field(call, 3);
      const LONG result = RegSetValueExA(
          key, Argument(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
          count.empty() ? static_cast<DWORD>(data.size() + 1) : Number(count, 10));
      std::printf("set %s -> %d\n", name.c_str(), static_cast<int>(result));
    } else if (what == "query") {
      Query(key, name, Field(call, 2));
    } else if (what == "delete") {
      std::printf("delete %s -> %d\n", name.c_str(),
                  static_cast<int>(RegDeleteValueA(key, Argument(name))));
    } else if (what == "close") {
      std::printf("close -> %d\n", static_cast<int>(RegCloseKey(key)));
      key = nullptr;
    } else {
      std::fprintf(stderr, "registry_editor: no call '%s'\n", call.c_str());
      return calls::kUsageStatus;
    }
  }
  return 0;
}
