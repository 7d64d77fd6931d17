// libFuzzer target for the SOFTWARE hive: the input is the hive file, which is read, its version
// looked up, a value read, and the setup's values set in it and another removed through libhivex.
// Nothing may crash; a hive that is refused stays byte for byte, and one that takes the values
// grows by no more than they need.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/offline/hive.h"

namespace {

constexpr char kKeys[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// The values need fewer bytes than this, however the hive places them.
constexpr std::size_t kGrowthForTheValues = 3 * 4096;

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A folder of the target's own under TMPDIR, removed at the end.
struct Scratch {
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr ? tmp : "/tmp") + "/vorn-hive-XXXXXX";
    Require(mkdtemp(path.data()) != nullptr);
  }
  ~Scratch() { std::filesystem::remove_all(path); }
  std::string path;
};

const std::string& Folder() {
  static const Scratch scratch;
  return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size), path = Folder() + "/SOFTWARE";
  // A new file for each input, the one before held open, so that no two share an identity.
  static emulation::UniqueFd previous;
  emulation::UniqueFd current(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  unlink(path.c_str());
  std::ofstream(path, std::ios::binary) << input;
  previous = std::move(current);

  const offline::HiveFile hive{emulation::UniqueFd(open(Folder().c_str(), O_RDONLY)), "SOFTWARE"};
  std::string why;
  std::vector<offline::Setting> settings;
  offline::ReadSettings(hive, kKeys, offline::View::kNative, {"CurrentVersion", "Major"}, &settings,
                        &why);
  offline::OpenKey(hive, std::string(kKeys) + "\\Drivers32", offline::View::kWow64, true, &why);
  emulation::RegistryValue held;
  offline::ReadValue(hive, std::string(kKeys) + "\\Drivers32", offline::View::kNative, "vidc.mrle",
                     &held, &why);
  const emulation::NamedValues values = {{"vidc.jix1", {REG_SZ, std::string("vornjixd.dll\0", 13)}},
                                         {"vidc.mrle", {REG_SZ, std::string("msrle32.dll", 11)}},
                                         {"count", {0x100001, std::string("\x1f\0\0\0", 4)}}};
  const DWORD error = offline::ChangeValues(hive, std::string(kKeys) + "\\Drivers32",
                                            offline::View::kNative, values, {"vidc.msvc"}, &why);
  const std::string after = Read(path);
  Require(error == ERROR_SUCCESS ? after.size() <= input.size() + kGrowthForTheValues
                                 : after == input);
  return 0;
}
