// RegOpenKeyExA, RegQueryValueExA, RegSetValueExA, RegDeleteValueA and RegCloseKey over the
// machine's HKLM.reg: Windows' answers, and a store that keeps every byte it was not asked to
// change.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/win32.h"
#include "tests/emulation/machine_folder.h"

namespace {

namespace fs = std::filesystem;

const char kDrivers32[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

class RegistryTest : public EmulatedMachineTest {
 protected:
  std::string Store() { return ReadFile(folder.machine + "/HKLM.reg"); }

  // Opens, sets one value and closes; the first failing result, or ERROR_SUCCESS.
  LONG SetValue(const char* subKey, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_WRITE, &key);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    const LONG closed = RegCloseKey(key);
    return result != ERROR_SUCCESS ? result : closed;
  }
};

TEST_F(RegistryTest, OpensExistingKeysOnlyAndAnswersWithWindowsCodes) {
  struct {
    const char* subKey;
    REGSAM access;
    LONG result;
  } const cases[] = {
      {kDrivers32, KEY_WRITE, ERROR_SUCCESS},
      {"software\\MICROSOFT\\windows nt\\currentversion\\DRIVERS32", KEY_WRITE, ERROR_SUCCESS},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc", KEY_READ, ERROR_SUCCESS},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers", KEY_WRITE, ERROR_FILE_NOT_FOUND},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32\\sub", KEY_WRITE,
       ERROR_FILE_NOT_FOUND},
      {"SOFTWARE\\Microsoft", KEY_READ, ERROR_SUCCESS},  // a parent of a key in the file
      {"\\SOFTWARE", KEY_READ, ERROR_BAD_PATHNAME},
      // As Wine 8 takes them: a run of backslashes is one, those at the end do not count.
      {"SOFTWARE\\\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", KEY_WRITE, ERROR_SUCCESS},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32\\\\", KEY_WRITE, ERROR_SUCCESS},
      {"", KEY_READ, ERROR_SUCCESS},
  };
  const HKEY kPoison = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0xdeadbeefu));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subKey);
    HKEY key = kPoison;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.subKey, 0, c.access, &key), c.result);
    if (c.result == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(key, nullptr);  // Windows clears the handle of a failed open
    }
  }
  // A parent that is no key fails before the handle is touched, as Wine's tests show of Windows.
  HKEY untouched = kPoison;
  EXPECT_EQ(RegOpenKeyExA(kPoison, "SOFTWARE", 0, KEY_READ, &untouched), ERROR_INVALID_HANDLE);
  EXPECT_EQ(untouched, kPoison);
  HKEY parent, child;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, KEY_READ, &parent), 0);
  EXPECT_EQ(RegOpenKeyExA(parent, "Windows NT\\CurrentVersion\\Drivers32", 0, KEY_WRITE, &child),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Store(), kFreshStore);  // opening and closing writes nothing
}

TEST_F(RegistryTest, SetsValuesInPlaceOrAtTheEndOfTheirKey) {
  EXPECT_EQ(SetValue(kDrivers32, "vidc.jix1", REG_SZ, "vornjixd.dll", 13), ERROR_SUCCESS);
  EXPECT_EQ(SetValue(kDrivers32, "VIDC.MRLE", REG_SZ, "other.dll", 10), ERROR_SUCCESS);
  // Windows stores the terminating zero even when the count leaves it out.
  EXPECT_EQ(SetValue(kDrivers32, "vidc.jix2", REG_SZ, "vornjix2.dll", 12), ERROR_SUCCESS);
  const DWORD number = 0x1f;
  EXPECT_EQ(SetValue(kDrivers32, "count", REG_DWORD, &number, 4), ERROR_SUCCESS);
  EXPECT_EQ(SetValue(kDrivers32, "odd", REG_SZ, "a\nb", 4), ERROR_SUCCESS);
  std::string expected = kFreshStore;
  expected.replace(expected.find("\"vidc.mrle\"=\"msrle32.dll\""), 25,
                   "\"vidc.mrle\"=\"other.dll\"");
  expected.insert(expected.size() - 2,
                  "\"vidc.jix1\"=\"vornjixd.dll\"\r\n"
                  "\"vidc.jix2\"=\"vornjix2.dll\"\r\n"
                  "\"count\"=dword:0000001f\r\n"
                  "\"odd\"=hex(1):61,0a,62,00\r\n");
  EXPECT_EQ(Store(), expected);

  // The same values again change nothing, not even the file's time.
  struct stat before, after;
  stat((folder.machine + "/HKLM.reg").c_str(), &before);
  EXPECT_EQ(SetValue(kDrivers32, "vidc.jix1", REG_SZ, "vornjixd.dll", 13), ERROR_SUCCESS);
  stat((folder.machine + "/HKLM.reg").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(Store(), expected);
}

// A string's terminating zero that the count leaves out is counted where the byte after the
// counted ones is that zero, for the three string types and no other, as Windows and Wine do.
TEST_F(RegistryTest, CountsAStringsTerminatingZeroAsWindowsDoes) {
  const struct {
    const char* name;
    DWORD type;
    const char* data;
    DWORD size;
    const char* stored;
  } kCases[] = {
      {"sz", REG_SZ, "ab", 2, "\"sz\"=\"ab\""},
      {"expand", REG_EXPAND_SZ, "%a%", 3, "\"expand\"=hex(2):25,61,25,00"},
      {"multi", REG_MULTI_SZ, "a\0b", 3, "\"multi\"=hex(7):61,00,62,00"},
      {"cut short", REG_SZ, "abc", 2, "\"cut short\"=hex(1):61,62"},
      {"binary", REG_BINARY, "ab", 2, "\"binary\"=hex:61,62"},
      {"empty", REG_SZ, "", 0, "\"empty\"=hex(1):"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetValue(kDrivers32, c.name, c.type, c.data, c.size), ERROR_SUCCESS);
    EXPECT_NE(Store().find(std::string(c.stored) + "\r\n"), std::string::npos) << Store();
  }
}

TEST_F(RegistryTest, KeepsEveryOtherByteOfTheStore) {
  const std::string store =
      "REGEDIT4\n"
      "; kept by hand\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\n"
      "\"path\"=hex(2):25,00\n"
      "\"list\"=hex(7):61,00,\\\n"
      "  00\n"
      "\"quoted\"=\"say \\\"hi\\\" \\\\ bye\"\n"
      "@=\"default\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\Other]\n"
      "\"n\"=dword:00000001\n";
  WriteFile(folder.machine + "/HKLM.reg", store);
  EXPECT_EQ(SetValue(kDrivers32, "vidc.jix1", REG_SZ, "vornjixd.dll", 13), ERROR_SUCCESS);
  std::string expected = store;
  expected.insert(expected.find("\n\n[HKEY_CURRENT_USER") + 1, "\"vidc.jix1\"=\"vornjixd.dll\"\n");
  EXPECT_EQ(Store(), expected);
}

TEST_F(RegistryTest, ANonWritableOrUnreadableStoreIsLeftAsItIs) {
  struct {
    const char* name;
    const char* append;
    fs::perms permissions;
    LONG result;
  } const cases[] = {
      {"read-only, whoever asks", "", fs::perms::owner_read | fs::perms::group_read,
       ERROR_ACCESS_DENIED},
      {"a line it cannot read", "\"broken=\r\n", fs::perms::owner_read | fs::perms::owner_write,
       ERROR_BADDB},
      {"not a REGEDIT4 file", nullptr, fs::perms::owner_read | fs::perms::owner_write, ERROR_BADDB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string store = c.append != nullptr ? kFreshStore + c.append : "PK\x03\x04 zip?";
    const std::string path = folder.machine + "/HKLM.reg";
    fs::permissions(path, fs::perms::owner_all);
    WriteFile(path, store);
    fs::permissions(path, c.permissions);
    EXPECT_EQ(SetValue(kDrivers32, "vidc.jix1", REG_SZ, "vornjixd.dll", 13), c.result);
    EXPECT_EQ(ReadFile(path), store);
  }
}

TEST_F(RegistryTest, APipeWhereTheStoreShouldBeFailsAndDoesNotHang) {
  const std::string path = folder.machine + "/HKLM.reg";
  fs::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::is_fifo(path));
}

TEST_F(RegistryTest, WritesNeedWriteAccessAndAKeyThatStillExists) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_INVALID_HANDLE);

  // Another program deletes the key while it is open here.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_SUCCESS);
  const std::string deleted =
      kFreshStore +
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\r\n";
  WriteFile(folder.machine + "/HKLM.reg", deleted);
  EXPECT_EQ(RegCloseKey(key), ERROR_KEY_DELETED);
  EXPECT_EQ(ReadFile(folder.machine + "/HKLM.reg"), deleted);
}

TEST_F(RegistryTest, AStoreThatIsGoneOrALinkWhenItIsSavedIsNeitherMadeNorWrittenThrough) {
  const std::string store = folder.machine + "/HKLM.reg";
  const std::string outside = folder.work + "/outside.reg";
  struct {
    const char* name;
    std::function<void()> change;  // what another program does while the key is open
    LONG result;
  } const cases[] = {
      {"deleted", [&] { fs::remove(store); }, ERROR_KEY_DELETED},
      {"a link out of the machine",
       [&] {
         WriteFile(outside, kFreshStore);
         fs::remove(store);
         fs::create_symlink(outside, store);
       },
       ERROR_ACCESS_DENIED},
      {"a link to nothing",
       [&] {
         fs::remove(store);
         fs::create_symlink(outside, store);
       },
       ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(outside);
    fs::remove(store);
    WriteFile(store, kFreshStore);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "vidc.jix1", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>("vornjixd.dll"), 13),
              ERROR_SUCCESS);
    c.change();
    const bool outsideExisted = Exists(outside);
    EXPECT_EQ(RegCloseKey(key), c.result);
    EXPECT_EQ(Exists(outside), outsideExisted);
    if (outsideExisted) {
      EXPECT_EQ(ReadFile(outside), kFreshStore);
    }
    EXPECT_EQ(fs::is_symlink(store), std::string(c.name) != "deleted");
    EXPECT_EQ(Exists(store), std::string(c.name) != "deleted");
    EXPECT_EQ(ListFolder(folder.machine).find(".vorn-"), std::string::npos);
  }
}

// A query as registry_editor shows one: the answer, the type, the count and the buffer's bytes,
// one more than its size (0xcc before); size -1 passes no buffer.
std::string Query(HKEY key, const char* name, int size) {
  BYTE buffer[17];
  std::fill(std::begin(buffer), std::end(buffer), 0xcc);
  DWORD type = 0xdeadbeef, count = size < 0 ? 0xdeadbeef : static_cast<DWORD>(size);
  const LONG result =
      RegQueryValueExA(key, name, nullptr, &type, size < 0 ? nullptr : buffer, &count);
  char field[64];
  std::snprintf(field, sizeof field, "%d type %x count %x data", static_cast<int>(result),
                static_cast<unsigned>(type), static_cast<unsigned>(count));
  std::string shown = field;
  for (int i = 0; i <= size; ++i) {
    std::snprintf(field, sizeof field, " %02x", buffer[i]);
    shown += field;
  }
  return shown;
}

// Each answer as Wine 8 gives it for the same value (tests/conformance holds both side by side).
TEST_F(RegistryTest, QueriesAnswerAsWindowsDoes) {
  WriteFile(
      folder.machine + "/HKLM.reg",
      kFreshStore + "[HKEY_LOCAL_MACHINE\\" + kDrivers32 +
          "]\r\n\"t.sz\"=\"abc\"\r\n\"t.cut\"=hex(1):61,62,63\r\n\"t.dword\"=dword:01020304\r\n"
          "\"t.bin\"=hex:01,02,03,04,05\r\n\"t.empty\"=\"\"\r\n");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_QUERY_VALUE, &key), 0);
  const struct {
    const char* name;
    int size;
    const char* expected;
  } kCases[] = {
      {"t.sz", 4, "0 type 1 count 4 data 61 62 63 00 cc"},
      {"T.SZ", 3, "234 type 1 count 4 data cc cc cc cc"},  // too small: left as it was
      {"t.sz", -1, "0 type 1 count 4 data"},
      {"t.cut", 4, "0 type 1 count 3 data 61 62 63 00 cc"},  // a zero where there is room
      {"t.cut", 3, "0 type 1 count 3 data 61 62 63 cc"},
      {"t.dword", 4, "0 type 4 count 4 data 04 03 02 01 cc"},
      {"t.bin", 4, "234 type 3 count 5 data cc cc cc cc cc"},
      {"t.empty", 0, "234 type 1 count 1 data cc"},
      {"t.missing", 4, "2 type 0 count 4 data cc cc cc cc cc"},
      {"t.missing", -1, "2 type 0 count 0 data"},
      {nullptr, 2, "2 type 0 count 2 data cc cc cc"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Query(key, c.name, c.size), c.expected) << c.name;
  EXPECT_EQ(RegDeleteValueA(key, "t.sz"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(Query(key, "t.sz", 0), "6 type deadbeef count 0 data cc");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "t.sz", 0), "2 type 0 count 0 data cc");
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_WRITE, &key), 0);
  EXPECT_EQ(Query(key, "t.sz", 0), "5 type 0 count 0 data cc");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  DWORD size = 4;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(key, "t.sz", nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "t.sz", &size, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
}

// Removals are saved when the key is closed, all at once, and until then the handle's queries
// see them and what it set; a value set and removed again leaves the store as it was.
TEST_F(RegistryTest, RemovesValuesAtCloseAndSeesItsOwnChanges) {
  const std::string kStoreWithDefault = kFreshStore + "[HKEY_LOCAL_MACHINE]\r\n@=\"root\"\r\n";
  WriteFile(folder.machine + "/HKLM.reg", kStoreWithDefault);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
            0);
  EXPECT_EQ(RegDeleteValueA(key, "VIDC.MRLE"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "vidc.mrle"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query(key, "vidc.mrle", 0), "2 type 0 count 0 data cc");
  EXPECT_EQ(RegSetValueExA(key, "vidc.new", 0, REG_SZ, reinterpret_cast<const BYTE*>("n"), 2), 0);
  EXPECT_EQ(Query(key, "VIDC.NEW", 2), "0 type 1 count 2 data 6e 00 cc");
  EXPECT_EQ(RegDeleteValueA(key, "vidc.new"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "wavemapper", 0, REG_SZ, reinterpret_cast<const BYTE*>("w"), 2), 0);
  EXPECT_EQ(RegDeleteValueA(key, "wavemapper"), ERROR_SUCCESS);  // the stored one goes too
  EXPECT_EQ(RegDeleteValueA(key, "vidc.new"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Store(), kStoreWithDefault);  // nothing saved before the close
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  std::string expected = kStoreWithDefault;
  for (const char* line :
       {"\"vidc.mrle\"=\"msrle32.dll\"\r\n", "\"wavemapper\"=\"msacm32.drv\"\r\n"}) {
    expected.erase(expected.find(line), std::string(line).size());
  }
  EXPECT_EQ(Store(), expected);
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "", 5), "0 type 1 count 5 data 72 6f 6f 74 00 cc");
  EXPECT_EQ(RegDeleteValueA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

}  // namespace
