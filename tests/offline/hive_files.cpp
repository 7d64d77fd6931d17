#include "tests/offline/hive_files.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kSecurityCell = 0x78;          // in the bin, after the root key's cell
constexpr std::uint64_t kTime = 0x01d0000000000000;  // 2014, any time will do

void Put(std::string* bytes, std::size_t at, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i > 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
  return value;
}

void PutChecksum(std::string* hive) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) sum ^= Get32(*hive, at);
  Put(hive, 508, sum == 0 ? 1 : sum == ~0u ? ~1u : sum, 4);
}

// The root key's security: owned by Administrators, full access for SYSTEM, inherited by keys.
const std::string kDescriptor(
    "\x01\x00\x04\x80\x30\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x14\x00\x00\x00"
    "\x02\x00\x1c\x00\x01\x00\x00\x00\x00\x02\x14\x00\x3f\x00\x0f\x00"
    "\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00"
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00",
    80);

// The fields of an empty hive that are not zero: where, what, how many bytes. The base block
// (sequence numbers, format 1.5, where the root key is, the bins' size); one bin (size, time); in
// it the root key "ROOT" (flags: a hive's root, in ASCII; no parent, subkeys, values or class),
// its security cell (a ring of one, used once) and a free cell to the end of the bin.
struct Field {
  std::size_t at;
  std::uint64_t value;
  std::size_t size;
};
constexpr std::size_t kRoot = kBlock + 0x20, kSecurity = kBlock + kSecurityCell;
const Field kFields[] = {{4, 1, 4},
                         {8, 1, 4},
                         {12, kTime, 8},
                         {20, 1, 4},
                         {24, 5, 4},
                         {32, 1, 4},
                         {36, 0x20, 4},
                         {40, kBlock, 4},
                         {44, 1, 4},
                         {kBlock + 8, kBlock, 4},
                         {kBlock + 20, kTime, 8},
                         {kRoot, static_cast<std::uint32_t>(-88), 4},
                         {kRoot + 6, 0x2c, 2},
                         {kRoot + 8, kTime, 8},
                         {kRoot + 20, ~0u, 4},
                         {kRoot + 32, ~0u, 4},
                         {kRoot + 36, ~0u, 4},
                         {kRoot + 44, ~0u, 4},
                         {kRoot + 48, kSecurityCell, 4},
                         {kRoot + 52, ~0u, 4},
                         {kRoot + 76, 4, 2},
                         {kSecurity, static_cast<std::uint32_t>(-104), 4},
                         {kSecurity + 8, kSecurityCell, 4},
                         {kSecurity + 12, kSecurityCell, 4},
                         {kSecurity + 16, 1, 4},
                         {kSecurity + 20, 80, 4},
                         {kSecurity + 104, kBlock - kSecurityCell - 104, 4}};

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};

hive_node_h MakeKey(hive_h* hive, const std::string& path) {
  hive_node_h node = hivex_root(hive);
  std::stringstream names(path);
  for (std::string name; std::getline(names, name, '\\');) {
    const hive_node_h child = hivex_node_get_child(hive, node, name.c_str());
    node = child != 0 ? child : hivex_node_add_child(hive, node, name.c_str());
  }
  return node;
}

}  // namespace

std::string EmptyHive() {
  std::string hive(2 * kBlock, '\0');
  for (const Field& field : kFields) Put(&hive, field.at, field.value, field.size);
  hive.replace(0, 4, "regf");
  hive.replace(kBlock, 4, "hbin");
  hive.replace(kRoot + 4, 2, "nk");
  hive.replace(kRoot + 80, 4, "ROOT");
  hive.replace(kSecurity + 4, 2, "sk");
  hive.replace(kSecurity + 24, kDescriptor.size(), kDescriptor);
  PutChecksum(&hive);
  return hive;
}

std::string Utf16(const std::string& ascii) {
  std::string text;
  for (const char c : ascii + '\0') text.append({c, '\0'});
  return text;
}

std::string Dword(DWORD number) {
  std::string bytes(4, '\0');
  Put(&bytes, 0, number, 4);
  return bytes;
}

void WriteHive(const std::string& path, const std::vector<std::string>& keys,
               const std::vector<HiveValue>& values) {
  std::ofstream(path, std::ios::binary) << EmptyHive();
  const std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
  ASSERT_TRUE(hive) << path;
  for (const std::string& key : keys) ASSERT_NE(MakeKey(hive.get(), key), 0u) << key;
  // The values of each key set at once: one at a time, libhivex rewrites the key's list each time.
  std::map<std::string, std::vector<hive_set_value>> byKey;
  for (const HiveValue& value : values) {
    byKey[value.key].push_back({const_cast<char*>(value.name.c_str()),
                                static_cast<hive_type>(value.type), value.data.size(),
                                const_cast<char*>(value.data.data())});
  }
  for (auto& [key, set] : byKey) {
    ASSERT_EQ(
        hivex_node_set_values(hive.get(), MakeKey(hive.get(), key), set.size(), set.data(), 0), 0);
  }
  ASSERT_EQ(hivex_commit(hive.get(), nullptr, 0), 0);
}

std::string ListedValues(const std::string& path, const std::string& key) {
  const std::string command = "regfexport '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> out(popen(command.c_str(), "r"), pclose);
  // regfexport writes each key as "Key path: ROOT\...", then for each value "Value: N name",
  // "Type: words (REG_SZ)", "Data size: N" and "Data: text" lines.
  std::string listed, name, type, line;
  bool inKey = false;
  for (char buffer[4096]; std::fgets(buffer, sizeof buffer, out.get()) != nullptr;) {
    line = buffer;
    line.erase(line.find_last_not_of('\n') + 1);
    const std::string field = line.substr(0, line.find(": ") + 2);
    const std::string rest = line.substr(field.size());
    if (field == "Key path: ") {
      inKey = rest == "ROOT\\" + key;
    } else if (!inKey) {
      continue;
    } else if (field == "Value: ") {
      name = rest.substr(rest.find(' ') + 1);
    } else if (field == "Type: ") {
      type = rest.substr(rest.rfind('(') + 1, rest.size() - rest.rfind('(') - 2);
    } else if (field == "Data size: ") {
      listed += name + "=" + type + "," + rest;
    } else if (field == "Data: ") {
      listed += "," + rest + "\n";
    }
  }
  return listed;
}

void LayOutDrive(const std::string& drive, const std::vector<std::string>& tree,
                 const std::vector<std::string>& keys, const std::vector<HiveValue>& values) {
  std::filesystem::create_directories(drive);
  for (const std::string& entry : tree) {
    const std::size_t link = entry.find("->");
    const std::string path = drive + "/" + entry.substr(0, std::min(link, entry.find('=')));
    const std::string content = entry.substr(std::min(entry.find('='), entry.size() - 1) + 1);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (link < entry.find('=')) {
      std::filesystem::create_symlink(entry.substr(link + 2), path);
    } else if (content == "HIVE") {
      WriteHive(path, keys, values);
    } else if (entry.back() != '/') {
      std::ofstream(path, std::ios::binary) << content;
    } else {
      std::filesystem::create_directories(path);
    }
  }
}

void PutField(const std::string& path, std::size_t at, DWORD value) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  std::string base(kBlock, '\0');
  file.read(base.data(), kBlock);
  std::string field(4, '\0');
  Put(&field, 0, value, 4);
  file.seekp(static_cast<std::streamoff>(at));
  file.write(field.data(), 4);
  if (at >= 508) return;
  Put(&base, at, value, 4);
  PutChecksum(&base);
  file.seekp(508);
  file.write(base.data() + 508, 4);
}
