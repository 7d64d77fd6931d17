// CopyFileA and DeleteFileA on a real machine folder: the answers Windows gives, and the files
// they leave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/win32.h"
#include "tests/emulation/machine_folder.h"

namespace {

namespace fs = std::filesystem;

void PutOldCopy(const std::string& system32) {
  WriteFile(system32 + "/vornjixd.dll", "old decoder");
}

struct CopyCase {
  const char* name;
  std::function<void(const std::string& system32, const std::string& package)> prepare;
  const char* source;
  const char* destination;
  BOOL failIfExists;
  DWORD error;            // ERROR_SUCCESS when the copy must work
  const char* installed;  // what C:\WINDOWS\SYSTEM32\vornjixd.dll holds afterwards
};

TEST_F(EmulatedMachineTest, CopyFileAnswersAsWindowsDoes) {
  const char* kDest = "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll";
  const auto nothing = [](const std::string&, const std::string&) {};
  const auto oldCopy = [](const std::string& s, const std::string&) { PutOldCopy(s); };
  const CopyCase cases[] = {
      {"new file", nothing, "vornjixd.dll", kDest, FALSE, ERROR_SUCCESS, "new decoder"},
      {"older copy replaced", oldCopy, "vornjixd.dll", kDest, FALSE, ERROR_SUCCESS, "new decoder"},
      {"names in any letter case", oldCopy, "VORNJIXD.DLL", "c:\\windows\\system32\\VornJixD.dll",
       FALSE, ERROR_SUCCESS, "new decoder"},
      {"source missing", oldCopy, "vornjix2.dll", kDest, FALSE, ERROR_FILE_NOT_FOUND,
       "old decoder"},
      {"source is a folder",
       [](const std::string& s, const std::string& p) {
         PutOldCopy(s);
         fs::create_directory(p + "/folder.dll");
       },
       "folder.dll", kDest, FALSE, ERROR_ACCESS_DENIED, "old decoder"},
      {"source is a device",
       [](const std::string& s, const std::string& p) {
         PutOldCopy(s);
         fs::create_symlink("/dev/zero", p + "/zero.dll");
       },
       "zero.dll", kDest, FALSE, ERROR_ACCESS_DENIED, "old decoder"},
      {"destination folder missing", nothing, "vornjixd.dll", "C:\\WINDOWS\\SYSTEM\\vornjixd.dll",
       FALSE, ERROR_PATH_NOT_FOUND, nullptr},
      {"destination is a folder",
       [](const std::string& s, const std::string&) { fs::create_directory(s + "/vornjixd.dll"); },
       "vornjixd.dll", kDest, FALSE, ERROR_ACCESS_DENIED, nullptr},
      {"destination read-only, whoever asks",
       [](const std::string& s, const std::string&) {
         PutOldCopy(s);
         fs::permissions(s + "/vornjixd.dll", fs::perms::owner_read | fs::perms::group_read);
       },
       "vornjixd.dll", kDest, FALSE, ERROR_ACCESS_DENIED, "old decoder"},
      {"names a killed run of this process id left behind",
       [](const std::string& s, const std::string&) {
         PutOldCopy(s);
         for (int n = 0; n < 8; ++n) {
           WriteFile(
               s + "/.vorn-" + std::to_string(getpid()) + "-" + std::to_string(n) + "-vornjixd.dll",
               "half a decoder");
         }
       },
       "vornjixd.dll", kDest, FALSE, ERROR_SUCCESS, "new decoder"},
      {"fail if exists", oldCopy, "vornjixd.dll", kDest, TRUE, ERROR_FILE_EXISTS, "old decoder"},
      {"destination is a link out of the machine",
       [](const std::string& s, const std::string& p) {
         WriteFile(p + "/outside", "outside");
         fs::create_symlink(p + "/outside", s + "/vornjixd.dll");
       },
       "vornjixd.dll", kDest, FALSE, ERROR_ACCESS_DENIED, nullptr},
      {"a folder on the way is a link out of the machine",
       [](const std::string& s, const std::string& p) {
         fs::create_directory(p + "/elsewhere");
         fs::create_directory_symlink(p + "/elsewhere", s + "/drivers");
       },
       "vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\drivers\\vornjixd.dll", FALSE, ERROR_PATH_NOT_FOUND,
       nullptr},  // a link is no folder here
      {"onto itself", oldCopy, kDest, kDest, FALSE, ERROR_SHARING_VIOLATION, "old decoder"},
      {"another drive", nothing, "vornjixd.dll", "D:\\vornjixd.dll", FALSE, ERROR_PATH_NOT_FOUND,
       nullptr},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(system32);
    fs::create_directory(system32);
    for (const auto& entry : fs::directory_iterator(package)) fs::remove_all(entry);  // our cwd
    WriteFile(package + "/vornjixd.dll", "new decoder");
    c.prepare(system32, package);
    SetLastError(kSentinel);

    const BOOL copied = CopyFileA(c.source, c.destination, c.failIfExists);
    EXPECT_EQ(copied, c.error == ERROR_SUCCESS ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error == ERROR_SUCCESS ? kSentinel : c.error);
    if (c.installed != nullptr) {
      EXPECT_EQ(ReadFile(system32 + "/vornjixd.dll"), c.installed);
    }
    // Nothing outside the machine was touched through a link.
    if (Exists(package + "/outside")) {
      EXPECT_EQ(ReadFile(package + "/outside"), "outside");
    }
    if (Exists(package + "/elsewhere")) {
      EXPECT_EQ(ListFolder(package + "/elsewhere"), "");
    }
    // Nothing half-done stays behind.
    for (const auto& entry : fs::directory_iterator(system32)) {
      EXPECT_NE(entry.path().filename().string().rfind(".vorn-", 0), 0u) << entry.path();
    }
  }
}

TEST_F(EmulatedMachineTest, CopyFileRefusesADecoderInUse) {
  WriteFile(system32 + "/vornjixd.dll", "old decoder");
  const int user = open((system32 + "/vornjixd.dll").c_str(), O_RDONLY);
  ASSERT_EQ(flock(user, LOCK_SH), 0);  // a video application holds the decoder
  EXPECT_EQ(CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", FALSE), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  close(user);
  EXPECT_EQ(ReadFile(system32 + "/vornjixd.dll"), "old decoder");
  EXPECT_EQ(CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", FALSE), TRUE);
}

TEST_F(EmulatedMachineTest, CopyFileOnAFullDiskKeepsTheOldDecoder) {
  WriteFile(system32 + "/vornjixd.dll", "old decoder");
  WriteFile(package + "/vornjixd.dll", std::string(64 * 1024, 'x'));
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;  // no file may grow past 4 KiB: the disk is "full"
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const BOOL copied = CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", FALSE);
  const DWORD error = GetLastError();
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(copied, FALSE);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(ReadFile(system32 + "/vornjixd.dll"), "old decoder");
  EXPECT_EQ(ListFolder(system32), "vornjixd.dll ");
}

TEST_F(EmulatedMachineTest, CopyFileCarriesTheReadOnlyAttribute) {
  fs::permissions(package + "/vornjixd.dll", fs::perms::owner_read | fs::perms::others_read);
  ASSERT_EQ(CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", FALSE), TRUE);
  EXPECT_EQ(fs::status(system32 + "/vornjixd.dll").permissions(),
            fs::perms::owner_read | fs::perms::others_read);
}

TEST_F(EmulatedMachineTest, CopyFileCopiesOnlyPlainFiles) {
  // A link in the current directory is followed, so a device can stand where a decoder should.
  // The file size limit keeps an endless one from filling the disk if it were read.
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1 << 20;
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    SCOPED_TRACE(device);
    fs::remove(package + "/vornjixd.dll");
    fs::create_symlink(device, package + "/vornjixd.dll");
    SetLastError(kSentinel);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const BOOL copied = CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", FALSE);
    const DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(copied, FALSE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ListFolder(system32), "");
  }
}

// Each row starts from a system folder holding vornjixd.dll and a package folder (the current
// directory) holding its own; what each folder holds afterwards, by name.
TEST_F(EmulatedMachineTest, DeleteFileAnswersAsWindowsDoes) {
  const char* kFile = "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll";
  const auto nothing = [](const std::string&, const std::string&) {};
  const struct {
    const char* name;
    std::function<void(const std::string& system32, const std::string& package)> prepare;
    const char* path;
    DWORD error;  // ERROR_SUCCESS when the file must go
    const char* system32;
    const char* package;
  } kCases[] = {
      {"deleted", nothing, kFile, ERROR_SUCCESS, "", "vornjixd.dll "},
      {"a name in another letter case, and trailing dots", nothing,
       "c:\\windows\\SYSTEM32\\VORNJIXD.DLL..", ERROR_SUCCESS, "", "vornjixd.dll "},
      {"a relative name is in the current directory", nothing, "vornjixd.dll", ERROR_SUCCESS,
       "vornjixd.dll ", ""},
      {"missing", nothing, "C:\\WINDOWS\\SYSTEM32\\vornjix2.dll", ERROR_FILE_NOT_FOUND,
       "vornjixd.dll ", "vornjixd.dll "},
      {"its folder missing", nothing, "C:\\WINDOWS\\SYSTEM\\vornjixd.dll", ERROR_PATH_NOT_FOUND,
       "vornjixd.dll ", "vornjixd.dll "},
      {"a file where a folder should be", nothing, "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll\\x",
       ERROR_PATH_NOT_FOUND, "vornjixd.dll ", "vornjixd.dll "},
      {"read-only, whoever asks",
       [](const std::string& s, const std::string&) {
         fs::permissions(s + "/vornjixd.dll", fs::perms::owner_read);
       },
       kFile, ERROR_ACCESS_DENIED, "vornjixd.dll ", "vornjixd.dll "},
      {"a folder",
       [](const std::string& s, const std::string&) { fs::create_directory(s + "/folder.dll"); },
       "C:\\WINDOWS\\SYSTEM32\\folder.dll", ERROR_ACCESS_DENIED, "folder.dll vornjixd.dll ",
       "vornjixd.dll "},
      {"a link out of the machine: neither it nor what it leads to",
       [](const std::string& s, const std::string& p) {
         fs::create_symlink(p + "/vornjixd.dll", s + "/link.dll");
       },
       "C:\\WINDOWS\\SYSTEM32\\link.dll", ERROR_ACCESS_DENIED, "link.dll vornjixd.dll ",
       "vornjixd.dll "},
      {"the root of the drive", nothing, "C:\\", ERROR_ACCESS_DENIED, "vornjixd.dll ",
       "vornjixd.dll "},
      {"another drive", nothing, "D:\\vornjixd.dll", ERROR_PATH_NOT_FOUND, "vornjixd.dll ",
       "vornjixd.dll "},
      {"an empty name", nothing, "", ERROR_PATH_NOT_FOUND, "vornjixd.dll ", "vornjixd.dll "},
      {"no name", nothing, nullptr, ERROR_PATH_NOT_FOUND, "vornjixd.dll ", "vornjixd.dll "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const std::string& each : {system32, package}) {
      for (const auto& entry : fs::directory_iterator(each)) fs::remove_all(entry);  // cwd stays
      WriteFile(each + "/vornjixd.dll", "a decoder");
    }
    c.prepare(system32, package);
    SetLastError(kSentinel);
    EXPECT_EQ(DeleteFileA(c.path), c.error == ERROR_SUCCESS ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error == ERROR_SUCCESS ? kSentinel : c.error);
    EXPECT_EQ(ListFolder(system32), c.system32);
    EXPECT_EQ(ListFolder(package), c.package);
  }
}

// A decoder a video application holds stays, as a loaded DLL does on Windows, until it lets go.
TEST_F(EmulatedMachineTest, DeleteFileLeavesADecoderInUse) {
  WriteFile(system32 + "/vornjixd.dll", "a decoder");
  const int user = open((system32 + "/vornjixd.dll").c_str(), O_RDONLY);
  ASSERT_EQ(flock(user, LOCK_SH), 0);
  EXPECT_EQ(DeleteFileA("C:\\WINDOWS\\SYSTEM32\\vornjixd.dll"), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(system32 + "/vornjixd.dll"), "a decoder");
  close(user);
  EXPECT_EQ(DeleteFileA("C:\\WINDOWS\\SYSTEM32\\vornjixd.dll"), TRUE);
  EXPECT_FALSE(Exists(system32 + "/vornjixd.dll"));
}

}  // namespace
