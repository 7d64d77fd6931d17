// The SOFTWARE hive of an offline installation: keys found as Windows finds them, values set as
// Windows stores them, read back by a reader that is not libhivex, and a hive Windows did not
// leave clean never written.
#include "platform/offline/hive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "tests/emulation/machine_folder.h"
#include "tests/offline/hive_files.h"

namespace {

using offline::View;

const std::string kDrivers32 = "Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
const std::string kWowDrivers32 = "WOW6432Node\\" + kDrivers32;
const std::string kSoftware = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
const std::string kKey = kSoftware + kDrivers32;
const std::string kMrle = "vidc.mrle=REG_SZ,24,msrle32.dll\n";
const std::string kWavemapper = "wavemapper=REG_SZ,24,msacm32.drv\n";

class HiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteHive(path, {"Microsoft\\Windows NT\\CurrentVersion\\drivers.desc"},
              {{kDrivers32, "vidc.mrle", REG_SZ, Utf16("msrle32.dll")},
               {kDrivers32, "wavemapper", REG_SZ, Utf16("msacm32.drv")},
               {kWowDrivers32, "vidc.mrle", REG_SZ, Utf16("msrle32.dll")}});
    hive.folder = emulation::UniqueFd(open(folder.work.c_str(), O_RDONLY | O_DIRECTORY));
  }
  ino_t Inode() {
    struct stat status = {};
    stat(path.c_str(), &status);
    return status.st_ino;
  }

  MachineFolder folder;
  std::string path = folder.work + "/SOFTWARE";
  offline::HiveFile hive{emulation::UniqueFd(), "SOFTWARE", path};
  std::string why;
};

TEST_F(HiveTest, OpensExistingKeysOnlyInTheViewAsked) {
  struct {
    std::string keyPath;
    View view;
    DWORD result;
  } const cases[] = {
      {kKey, View::kNative, ERROR_SUCCESS},
      {"hkey_local_machine\\software\\MICROSOFT\\windows nt\\currentversion\\drivers32",
       View::kNative, ERROR_SUCCESS},
      {kKey, View::kWow64, ERROR_SUCCESS},
      {kSoftware + "Microsoft\\Windows NT\\CurrentVersion\\drivers.desc", View::kNative,
       ERROR_SUCCESS},
      {kSoftware + "Microsoft\\Windows NT\\CurrentVersion\\drivers.desc", View::kWow64,
       ERROR_FILE_NOT_FOUND},  // only the 64-bit view has it
      {kKey + "\\sub", View::kNative, ERROR_FILE_NOT_FOUND},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE", View::kNative, ERROR_SUCCESS},
      {"HKEY_LOCAL_MACHINE\\SYSTEM\\Microsoft", View::kNative, ERROR_FILE_NOT_FOUND},
      {"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft", View::kNative, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyPath);
    EXPECT_EQ(offline::OpenKey(hive, c.keyPath, c.view, true, &why), c.result);
  }
}

TEST_F(HiveTest, SetsValuesAsWindowsStoresThemKeepingTheOthers) {
  const std::string terminated = std::string("vornjixd.dll") + '\0';
  struct {
    View view;
    emulation::NamedValues values;
    std::string native, wow64;  // Drivers32 afterwards, as regfexport lists it
  } const cases[] = {
      {View::kNative,
       {{"VIDC.MRLE", {REG_SZ, "new.dll"}},
        {"vidc.jix1", {REG_SZ, terminated}},
        {"x", {REG_SZ, "b"}}},
       "vidc.mrle=REG_SZ,16,new.dll\n" + kWavemapper +
           "vidc.jix1=REG_SZ,26,vornjixd.dll\nx=REG_SZ,4,b\n",
       kMrle},
      {View::kWow64,
       {{"vidc.jix1", {REG_SZ, "vornjixd.dll"}}},
       kMrle + kWavemapper,
       kMrle + "vidc.jix1=REG_SZ,26,vornjixd.dll\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(offline::SetValues(hive, kKey, c.view, c.values, &why), ERROR_SUCCESS) << why;
    EXPECT_EQ(ListedValues(path, kDrivers32), c.native);
    EXPECT_EQ(ListedValues(path, kWowDrivers32), c.wow64);
    EXPECT_EQ(offline::CheckHive(hive, &why), ERROR_SUCCESS) << why;
  }
}

TEST_F(HiveTest, WritesNothingWhenNothingChanges) {
  const std::string before = ReadFile(path);
  const ino_t inode = Inode();
  EXPECT_EQ(
      offline::SetValues(hive, kKey, View::kNative, {{"Vidc.MRLE", {REG_SZ, "msrle32.dll"}}}, &why),
      ERROR_SUCCESS);
  EXPECT_EQ(Inode(), inode);
  EXPECT_TRUE(ReadFile(path) == before) << "the hive changed";
}

TEST_F(HiveTest, LeavesAHiveItMustNotWriteByteForByte) {
  struct {
    const char* name;
    std::function<void(const std::string&)> spoil;
    DWORD open, set;
    const char* why;
  } const cases[] = {
      {"dirty", [](auto& p) { SetSequenceNumbers(p, 7, 6); }, ERROR_BADDB, ERROR_BADDB,
       "start Windows and shut it down fully"},
      {"bad checksum", [](auto& p) { WriteFile(p, ReadFile(p).replace(12, 1, "x")); }, ERROR_BADDB,
       ERROR_BADDB, "checksum is wrong"},
      {"read-only", [](auto& p) { chmod(p.c_str(), 0444); }, ERROR_ACCESS_DENIED,
       ERROR_ACCESS_DENIED, "may not replace"},
      {"not a hive", [](auto& p) { WriteFile(p, std::string(8192, 'x')); }, ERROR_BADDB,
       ERROR_BADDB, "not a registry hive"},
      {"missing key", [](auto&) {}, ERROR_FILE_NOT_FOUND, ERROR_KEY_DELETED, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.spoil(path);
    const std::string before = ReadFile(path);
    const std::string key = c.set == ERROR_KEY_DELETED ? kKey + "\\gone" : kKey;
    why.clear();
    EXPECT_EQ(offline::OpenKey(hive, key, View::kNative, true, &why), c.open);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_EQ(offline::SetValues(hive, key, View::kNative, {{"a", {REG_SZ, "b"}}}, &why), c.set);
    EXPECT_TRUE(ReadFile(path) == before) << "the hive changed";
    EXPECT_EQ(ListFolder(folder.work), "SOFTWARE ");  // no new file left beside it
  }
}

}  // namespace
