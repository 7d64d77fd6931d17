// The native setup on the drive of a Windows that is not running: where the decoders go, what the
// real hive holds afterwards as a reader that is not libhivex reads it, the drives it refuses and
// leaves as they were, a hive whole after a kill at any file-changing call, and an NTFS drive
// mounted with ntfs-3g, whose files keep their Windows security.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "registration/messages.h"
#include "tests/emulation/machine_folder.h"
#include "tests/emulation/native_run.h"
#include "tests/offline/hive_files.h"

namespace {

namespace fs = std::filesystem;

const std::string kNt = "Microsoft\\Windows NT\\CurrentVersion";
const std::string kDescriptions = kNt + "\\drivers.desc", kHandlers = kNt + "\\Drivers32";
const std::string kWow = "WOW6432Node\\";
const std::string kDescribed =
    "vornjixd.dll=REG_SZ,36,VORN JIX1 Decoder\nvornjix2.dll=REG_SZ,36,VORN JIX2 Decoder\n";
const std::string kHandled =
    "vidc.jix1=REG_SZ,26,vornjixd.dll\nvidc.jix2=REG_SZ,26,vornjix2.dll\n"
    "vidc.uyvy=REG_SZ,26,vornjixd.dll\n";
const std::string kXp = "WINDOWS/system32/config/software";

struct OfflineCase {
  const char* name;
  std::vector<std::string> tree;  // as LayOutDrive takes it
  std::vector<std::string> keys;  // in the hive
  std::function<void(const std::string& drive)> spoil;
  int status;
  const char* box;
  const char* says;    // on standard error
  const char* system;  // where the decoders go; nullptr: the drive is left as it was
  std::string hive;    // in the drive; "" for none
  // The keys the values go to, as the hive spells them; "" for one that is missing.
  std::string descriptions, handlers;
};

const auto kAsIs = [](const std::string&) {};

const OfflineCase kCases[] = {
    {"XP",
     {kXp + "=HIVE"},
     {kDescriptions, kHandlers},
     kAsIs,
     0,
     kCompleteText,
     "",
     "WINDOWS/system32",
     kXp,
     kDescriptions,
     kHandlers},
    {"10, 64-bit",
     {"Windows/SysWOW64/", "Windows/System32/config/SOFTWARE=HIVE"},
     {kDescriptions, kHandlers, kWow + kDescriptions, kWow + kHandlers},
     kAsIs,
     0,
     kCompleteText,
     "",
     "Windows/SysWOW64",
     "Windows/System32/config/SOFTWARE",
     kWow + kDescriptions,
     kWow + kHandlers},
    {"98",
     {"WINDOWS/SYSTEM/", "WINDOWS/SYSTEM.DAT=", "WINDOWS/system.ini=[drivers32]\r\n"},
     {},
     kAsIs,
     0,
     kCompleteText,
     "",
     "WINDOWS/SYSTEM",
     "",
     "",
     ""},
    {"other letter cases",
     {"windows/SYSTEM32/Config/software=HIVE"},
     {"MICROSOFT\\windows nt\\currentversion\\Drivers.Desc",
      "MICROSOFT\\windows nt\\currentversion\\DRIVERS32"},
     kAsIs,
     0,
     kCompleteText,
     "",
     "windows/SYSTEM32",
     "windows/SYSTEM32/Config/software",
     "MICROSOFT\\windows nt\\currentversion\\Drivers.Desc",
     "MICROSOFT\\windows nt\\currentversion\\DRIVERS32"},
    {"no drivers.desc",
     {kXp + "=HIVE"},
     {kHandlers},
     kAsIs,
     0,
     kNotCompleteText,
     "holds no key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT",
     "WINDOWS/system32",
     kXp,
     "",
     kHandlers},
    {"a hive Windows left dirty",
     {kXp + "=HIVE"},
     {kDescriptions, kHandlers},
     [](const std::string& drive) { SetSequenceNumbers(drive + "/" + kXp, 9, 8); },
     3,
     nullptr,
     "start Windows and shut it down fully, then run again",
     nullptr,
     kXp,
     "",
     ""},
    {"a hive with a wrong checksum",
     {kXp + "=HIVE"},
     {kDescriptions, kHandlers},
     [](const std::string& drive) {
       WriteFile(drive + "/" + kXp, ReadFile(drive + "/" + kXp).replace(16, 1, "x"));
     },
     3,
     nullptr,
     "its header checksum is wrong",
     nullptr,
     kXp,
     "",
     ""},
    {"a data drive",
     {"Users/", "Windows/"},
     {},
     kAsIs,
     3,
     nullptr,
     "is neither a machine folder (it holds no machine.conf) nor a Windows drive",
     nullptr,
     "",
     "",
     ""},
};

class OfflineSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(package + "/vornjixd.dll", "MZ first decoder");
    WriteFile(package + "/vornjix2.dll", "MZ second decoder");
  }
  void LayOut(const OfflineCase& c) {
    fs::remove_all(drive);
    LayOutDrive(drive, c.tree, c.keys, {});
    c.spoil(drive);
  }
  // The decoders and the registration, as a run left them.
  void ExpectInstalled(const OfflineCase& c) {
    EXPECT_EQ(ReadFile(drive + "/" + c.system + "/vornjix2.dll"), "MZ second decoder");
    if (c.hive.empty()) {
      EXPECT_EQ(ReadFile(drive + "/WINDOWS/system.ini"),
                "[drivers32]\r\nvidc.jix1=vornjixd.dll\r\nvidc.jix2=vornjix2.dll\r\n"
                "vidc.uyvy=vornjixd.dll\r\n");
      return;
    }
    const std::string hive = drive + "/" + c.hive;
    EXPECT_EQ(ListedValues(hive, c.descriptions.empty() ? kDescriptions : c.descriptions),
              c.descriptions.empty() ? "" : kDescribed);
    EXPECT_EQ(ListedValues(hive, c.handlers), kHandled);
    // What 64-bit programs see is left alone.
    if (c.handlers != kHandlers) {
      EXPECT_EQ(ListedValues(hive, kHandlers), "");
    }
  }

  MachineFolder folder;
  std::string drive = folder.work + "/drive", package = folder.work + "/package";
};

TEST_F(OfflineSetupTest, InstallsIntoTheWindowsOnTheDriveOrLeavesItAsItWas) {
  for (const OfflineCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LayOut(c);
    const Snapshot before = TakeSnapshot(drive);
    const RunResult run = RunNative(drive, package);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    if (c.box != nullptr) {
      EXPECT_NE(run.output.find(Box(c.box)), std::string::npos) << run.output;
    }
    if (c.system == nullptr) {
      EXPECT_EQ(TakeSnapshot(drive), before);
      continue;
    }
    ExpectInstalled(c);
    // A second run finds everything in place and writes no hive.
    struct stat first, second;
    stat((drive + "/" + (c.hive.empty() ? "WINDOWS/system.ini" : c.hive)).c_str(), &first);
    EXPECT_EQ(RunNative(drive, package).status, 0);
    stat((drive + "/" + (c.hive.empty() ? "WINDOWS/system.ini" : c.hive)).c_str(), &second);
    EXPECT_EQ(first.st_ino, second.st_ino);
  }
}

// Killed at the N-th call of each call that changes files, N = 1, 2, ... until a run gets
// through: the hive is the old one or the new one, whole, and the next run finishes the job
// and leaves nothing beside it.
TEST_F(OfflineSetupTest, AKilledRunLeavesTheOldHiveOrTheNewOneWhole) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace here";
  const OfflineCase& xp = kCases[0];
  // LeakSanitizer cannot work under strace, and would fail every run there.
  const char* asan = std::getenv("ASAN_OPTIONS");
  setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
  int killed = 0;
  for (const char* call : {"openat", "write", "fchmod", "fchown", "fsync", "rename", "unlinkat"}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(call) + " " + std::to_string(n));
      LayOut(xp);
      const std::string inject =
          "inject=" + std::string(call) + ":signal=KILL:when=" + std::to_string(n);
      RunOptions options;
      options.under = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", inject};
      const int status = RunNative(drive, package, options).status;
      if (status != 128 + SIGKILL) {
        EXPECT_EQ(status, 0);  // not killed: the call was made fewer than n times
        break;
      }
      ++killed;
      const std::string handlers = ListedValues(drive + "/" + xp.hive, kHandlers);
      EXPECT_TRUE(handlers == "" || handlers == kHandled) << handlers;
      EXPECT_EQ(RunNative(drive, package).status, 0);
      ExpectInstalled(xp);
      EXPECT_EQ(ListFolder(drive + "/WINDOWS/system32/config"), "software ");
    }
  }
  EXPECT_GT(killed, 10);
  std::printf("%d runs killed\n", killed);
}

// An NTFS image made with mkntfs and mounted with ntfs-3g, as a Windows partition is.
TEST_F(OfflineSetupTest, OnAnNtfsDriveFilesKeepTheirWindowsSecurity) {
  const std::string image = folder.work + "/ntfs.img";
  WriteFile(image, "");
  fs::resize_file(image, 16 << 20);
  fs::create_directory(drive);
  const auto run = [](const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  };
  if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0 || !run("mkntfs -F -Q -q " + image) ||
      !run("ntfs-3g " + image + " " + drive)) {
    GTEST_SKIP() << "no NTFS image can be made and mounted with ntfs-3g here";
  }
  const OfflineCase ntfs = {
      "NTFS",
      {"Windows/System32/config/SOFTWARE=HIVE", "Windows/System32/vornjix2.dll=old"},
      {kDescriptions, kHandlers},
      kAsIs,
      0,
      kCompleteText,
      "",
      "Windows/System32",
      "Windows/System32/config/SOFTWARE",
      kDescriptions,
      kHandlers};
  LayOutDrive(drive, ntfs.tree, ntfs.keys, {});
  // Owned by Administrators, full access for SYSTEM alone: not what ntfs-3g gives a new file.
  const std::string acl(
      "\x01\x00\x04\x80\x14\x00\x00\x00\x24\x00\x00\x00\x00\x00\x00\x00\x34\x00\x00\x00"
      "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"
      "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"
      "\x02\x00\x1c\x00\x01\x00\x00\x00\x00\x03\x14\x00\xff\x01\x1f\x00"
      "\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00",
      80);
  const auto aclOf = [](const std::string& path) {
    char value[256];
    const ssize_t size = getxattr(path.c_str(), "system.ntfs_acl", value, sizeof value);
    return std::string(value, size > 0 ? static_cast<std::size_t>(size) : 0);
  };
  for (const std::string& file : {ntfs.hive, ntfs.system + std::string("/vornjix2.dll")}) {
    ASSERT_EQ(setxattr((drive + "/" + file).c_str(), "system.ntfs_acl", acl.data(), acl.size(), 0),
              0);
  }
  EXPECT_EQ(RunNative(drive, package).status, 0);
  ExpectInstalled(ntfs);
  EXPECT_EQ(aclOf(drive + "/" + ntfs.hive), acl);
  EXPECT_EQ(aclOf(drive + "/" + ntfs.system + "/vornjix2.dll"), acl);

  // Mounted read-only, as ntfs-3g mounts a drive Windows left hibernated: refused.
  run("umount " + drive);
  ASSERT_TRUE(run("ntfs-3g -o ro " + image + " " + drive));
  const RunResult readOnly = RunNative(drive, package);
  run("umount " + drive);
  EXPECT_EQ(readOnly.status, 3);
  EXPECT_NE(readOnly.output.find("mounted read-only"), std::string::npos) << readOnly.output;
}

}  // namespace
