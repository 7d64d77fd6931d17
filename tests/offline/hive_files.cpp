#include "tests/offline/hive_files.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kRootCell = 0x20;  // in the bin, after its header
constexpr std::size_t kSecurityCell = kRootCell + 88;
constexpr std::uint64_t kTime = 0x01d0000000000000;  // 2014, any time will do

void Put(std::string* bytes, std::size_t at, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i > 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
  }
  return value;
}

void PutChecksum(std::string* hive) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) sum ^= Get32(*hive, at);
  Put(hive, 508, sum == 0 ? 1 : sum == ~0u ? ~1u : sum, 4);
}

// The root key's security: owned by Administrators, full access for SYSTEM.
const std::string kSecurity = std::string(
    "\x01\x00\x04\x80"  // revision, self-relative with a DACL
    "\x30\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x14\x00\x00\x00"  // owner, group, -, DACL
    "\x02\x00\x1c\x00\x01\x00\x00\x00"                                  // the DACL: one entry
    "\x00\x02\x14\x00\x3f\x00\x0f\x00"  // allowed, inherited by keys: KEY_ALL_ACCESS
    "\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00"                  // S-1-5-18
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"  // S-1-5-32-544
    "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00",
    80);

std::string Bin() {
  std::string bin(kBlock, '\0');
  bin.replace(0, 4, "hbin");
  Put(&bin, 8, kBlock, 4);
  Put(&bin, 20, kTime, 8);
  // The root key: no subkeys, no values, its name "ROOT" in ASCII.
  std::size_t nk = kRootCell;
  Put(&bin, nk, static_cast<std::uint32_t>(-88), 4);
  bin.replace(nk + 4, 2, "nk");
  Put(&bin, nk + 6, 0x2c, 2);  // the hive's root, not to be deleted, name in ASCII
  Put(&bin, nk + 8, kTime, 8);
  Put(&bin, nk + 20, ~0u, 4);                                                        // no parent
  for (const std::size_t none : {32u, 36u, 44u, 52u}) Put(&bin, nk + none, ~0u, 4);  // no lists
  Put(&bin, nk + 48, kSecurityCell, 4);
  Put(&bin, nk + 76, 4, 2);
  bin.replace(nk + 80, 4, "ROOT");
  // Its security cell, the only one, so a ring of one.
  const std::size_t sk = kSecurityCell;
  Put(&bin, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(24 + kSecurity.size())), 4);
  bin.replace(sk + 4, 2, "sk");
  Put(&bin, sk + 8, kSecurityCell, 4);
  Put(&bin, sk + 12, kSecurityCell, 4);
  Put(&bin, sk + 16, 1, 4);
  Put(&bin, sk + 20, kSecurity.size(), 4);
  bin.replace(sk + 24, kSecurity.size(), kSecurity);
  // The rest of the bin is one free cell.
  const std::size_t free = sk + 24 + kSecurity.size();
  Put(&bin, free, kBlock - free, 4);
  return bin;
}

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
  std::string base(kBlock, '\0');
  base.replace(0, 4, "regf");
  Put(&base, 4, 1, 4);
  Put(&base, 8, 1, 4);
  Put(&base, 12, kTime, 8);
  Put(&base, 20, 1, 4);  // format 1.5, the one of Windows XP and later
  Put(&base, 24, 5, 4);
  Put(&base, 32, 1, 4);
  Put(&base, 36, kRootCell, 4);
  Put(&base, 40, kBlock, 4);
  Put(&base, 44, 1, 4);
  PutChecksum(&base);
  return base + Bin();
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
  for (HiveValue value : values) {
    const hive_set_value set{value.name.data(), static_cast<hive_type>(value.type),
                             value.data.size(), value.data.data()};
    ASSERT_EQ(hivex_node_set_value(hive.get(), MakeKey(hive.get(), value.key), &set, 0), 0);
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

void SetSequenceNumbers(const std::string& path, DWORD primary, DWORD secondary) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  std::string base(kBlock, '\0');
  file.read(base.data(), kBlock);
  Put(&base, 4, primary, 4);
  Put(&base, 8, secondary, 4);
  PutChecksum(&base);
  file.seekp(0);
  file.write(base.data(), kBlock);
}
