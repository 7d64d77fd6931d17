// The native setup and remover on the drive of a Windows that is not running: where the decoders
// go, what the real hive holds afterwards as a reader that is not libhivex reads it, the drives it
// refuses and leaves as they were, a hive whole after a kill at any file-changing call, and an
// NTFS drive mounted with ntfs-3g, whose files keep their Windows security.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

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
  int status;
  const char* box;
  const char* says;    // on standard error
  const char* system;  // where the decoders go; nullptr: the drive is left as it was
  std::string hive;    // in the drive; "" for none
  // The keys the values go to, as the hive spells them; "" for one that is missing.
  std::string descriptions, handlers;
};

const OfflineCase kCases[] = {
    {"XP",
     {kXp + "=HIVE"},
     {kDescriptions, kHandlers},
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
     0,
     kNotCompleteText,
     "holds no key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT",
     "WINDOWS/system32",
     kXp,
     "",
     kHandlers},
    {"64-bit, no drivers.desc where 32-bit programs look",
     {"Windows/SysWOW64/", "Windows/System32/config/SOFTWARE=HIVE"},
     {kDescriptions, kWow + kHandlers},
     0,
     kNotCompleteText,
     "holds no key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsof...ion\\drivers.desc'",
     "Windows/SysWOW64",
     "Windows/System32/config/SOFTWARE",
     "",
     kWow + kHandlers},
    {"a data drive",
     {"Users/", "Windows/"},
     {},
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

// Where the record of the value named name is in the hive file at path: 20 bytes before its name.
std::size_t ValueRecord(const std::string& path, const std::string& name) {
  return ReadFile(path).find(name) - 20;
}

// The file's identity and, when it is small, its bytes: the same when it was left as it was.
std::string Fingerprint(const std::string& path) {
  struct stat status;
  stat(path.c_str(), &status);
  return std::to_string(status.st_ino) + " " + std::to_string(status.st_mtim.tv_nsec) + " " +
         std::to_string(status.st_size) +
         (status.st_size < (1 << 20) ? ReadFile(path) : std::string());
}

// Hives that are not what their base block says, or that libhivex cannot read whole on the way
// to the setup's values: refused and left as they were, or carried over with the setup's values
// and their own bytes; none makes a run hold much more than a run on a plain hive.
TEST_F(OfflineSetupTest, AHiveIsTakenForWhatItIsAndNoBigger) {
  const std::string hive = drive + "/" + kXp, other = "Microsoft\\Other";
  const auto put = [](std::size_t at, DWORD value) {
    return [=](const std::string& path) { PutField(path, at, value); };
  };
  // The data of a value points past the end of the hive.
  const auto pastTheEnd = [](const char* name) {
    return [=](const std::string& path) { PutField(path, ValueRecord(path, name) + 8, 1u << 30); };
  };
  const struct {
    const char* name;
    std::function<void(const std::string& hive)> spoil;
    int status;
    const char* says;
  } kHives[] = {
      {"as Windows leaves it", [](const std::string&) {}, 0, kCompleteText},
      {"Windows left it dirty", put(8, 9), 3, "Windows did not finish writing it"},
      {"a wrong checksum", put(508, 7), 3, "its header checksum is wrong, so it is left as it is"},
      {"more bins than the file holds", put(40, 1u << 30), 3,
       "its header claims 1073741824 bytes of hive bins where the file holds"},
      {"bins not in 4 KiB", put(40, 4100), 3, "its header claims 4100 bytes of hive bins"},
      {"a truncated bin", [](const std::string& path) { fs::resize_file(path, 6000); }, 3,
       "where the file holds 1904, so it is left as it is"},
      {"a sparse tail", [](const std::string& path) { fs::resize_file(path, 2ull << 30); }, 3,
       "bytes after its hive bins, more than Windows leaves there"},
      {"the slack Windows leaves",
       [](const std::string& path) { fs::resize_file(path, 256 << 10); }, 0, kCompleteText},
      {"a bin beyond the file", put(4096 + 8, 1u << 20), 3, "its hive bins are damaged"},
      {"a value past the end on the way", pastTheEnd("vidc.mrle"), 0,
       "a value of the key cannot be read (Bad address), so it is left as it is"},
      {"a value past the end elsewhere", pastTheEnd("elsewhere"), 0, kCompleteText},
  };
  std::optional<long> plainPeak;
  for (const auto& c : kHives) {
    SCOPED_TRACE(c.name);
    fs::remove_all(drive);
    LayOutDrive(drive, {kXp + "=HIVE"}, {kDescriptions},
                {{kHandlers, "vidc.mrle", REG_SZ, Utf16("msrle32.dll")},
                 {kHandlers, "vidc.odd", 0x100001, "\1\2\3\4\5"},
                 {other, "elsewhere", REG_BINARY, "far away"}});
    const std::size_t elsewhere = ValueRecord(hive, "elsewhere");
    c.spoil(hive);
    const bool refused = c.status == 3, complete = c.says == std::string(kCompleteText);
    const std::string before = Fingerprint(hive),
                      handlers = refused ? "" : ListedValues(hive, kHandlers);
    const std::string kept = refused ? "" : ReadFile(hive).substr(elsewhere, 32);
    const RunResult run = RunNative(drive, package);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    if (!plainPeak) plainPeak = run.peakKilobytes;
    EXPECT_LT(run.peakKilobytes, *plainPeak + 1024);
    if (refused) {
      EXPECT_EQ(Fingerprint(hive), before);
      continue;
    }
    // What the run did not write is as it was, a type libhivex does not name included.
    EXPECT_EQ(ReadFile(hive).substr(elsewhere, 32), kept);
    EXPECT_EQ(ListedValues(hive, kHandlers), handlers + (complete ? kHandled : ""));
    EXPECT_EQ(ListedValues(hive, kDescriptions), kDescribed);
  }
}

// A hive that cannot be saved, here for want of room, is named with the reason and left whole.
TEST_F(OfflineSetupTest, AHiveThatCannotBeSavedSaysWhichAndWhy) {
  LayOut(kCases[0]);
  const std::string hive = drive + "/" + kXp, before = ReadFile(hive);
  RunOptions options;
  options.fileSizeLimit = 1024;  // the decoders fit, a new hive does not
  const RunResult run = RunNative(drive, package, options);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("/software': cannot be saved: the disk is full (Windows error 112)\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(Box(kNotCompleteText)), std::string::npos);
  EXPECT_EQ(ReadFile(hive), before);
  EXPECT_EQ(ListFolder(drive + "/WINDOWS/system32/config"), "software ");
}

// Drives that would lead a run outside them: each is refused, or its copy or deletion fails, as
// the outcome tables say, naming the file or link; nothing outside the drive changes, nor a
// refused drive.
TEST_F(OfflineSetupTest, NothingOutsideTheDriveChanges) {
  const std::string other = folder.work + "/other", xp = kXp + "=HIVE";
  LayOutDrive(other,
              {"WINDOWS/system32/config/SOFTWARE=HIVE", "WIN95/SYSTEM/",
               "WIN95/SYSTEM.DAT=", "WIN95/system.ini=[drivers32]\r\n", "victim.dll=mine"},
              {kDescriptions, kHandlers}, {});
  const Snapshot outside = TakeSnapshot(other);
  const std::string boot =
      "boot.ini=[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\";
  const std::string dos = "MSDOS.SYS=[Paths]\r\nWinDir=C:\\";
  const struct {
    const char* name;
    std::vector<std::string> tree;  // "OTHER" stands for the folder outside, as a full path
    int status;
    const char* says;
  } kDrives[] = {
      {"boot.ini climbs out",
       {xp, boot + "..\\other\\WINDOWS"},
       3,
       "'boot.ini' names '\\..\\other\\WINDOWS', which leads outside the drive"},
      {"boot.ini jumps out", {xp, boot + "OTHER/WINDOWS"}, 3, "'boot.ini' names '\\/"},
      {"MSDOS.SYS climbs out",
       {dos + "..\\other\\WIN95"},
       3,
       "'MSDOS.SYS' names '\\..\\other\\WIN95', which leads outside the drive"},
      {"MSDOS.SYS jumps out", {dos + "OTHER/WIN95"}, 3, "'MSDOS.SYS' names '\\/"},
      {"WINDOWS a link",
       {"WINDOWS->../other/WINDOWS"},
       3,
       "'WINDOWS' is a link: a Windows drive is used only as it stands"},
      {"System32 a link",
       {"WINDOWS/system32->../../other/WINDOWS/system32"},
       3,
       "'WINDOWS/system32' is a link"},
      {"SysWOW64 a link",
       {"Windows/System32/config/SOFTWARE=HIVE", "Windows/SysWOW64->../../other/WINDOWS/system32"},
       3,
       "'Windows/SysWOW64' is a link"},
      {"SysWOW64 a file",
       {"Windows/System32/config/SOFTWARE=HIVE", "Windows/SysWOW64=a file"},
       3,
       "'Windows/SysWOW64' is not what Windows keeps there: a Windows drive is used only as it "
       "stands"},
      {"config a link",
       {"WINDOWS/system32/config->../../../other/WINDOWS/system32/config"},
       3,
       "'WINDOWS/system32/config' is a link"},
      {"SOFTWARE a link",
       {"WINDOWS/system32/config/SOFTWARE->../../../../other/WINDOWS/system32/config/SOFTWARE"},
       3,
       "'WINDOWS/system32/config/SOFTWARE' is a link"},
      {"system.ini a link",
       {"WINDOWS/SYSTEM/",
        "WINDOWS/SYSTEM.DAT=", "WINDOWS/system.ini->../../other/WIN95/system.ini"},
       3,
       "'WINDOWS/system.ini' is a link"},
      {"a decoder's destination a link",
       {xp, "WINDOWS/system32/vornjix2.dll->../../../other/victim.dll"},
       1,
       "/vornjix2.dll', a link, which is never followed: access denied (Windows error 5)"},
  };
  // The setup and the remover alike.
  for (const auto& c : kDrives) {
    for (const RunOptions& options : {RunOptions(), Remover()}) {
      SCOPED_TRACE(std::string(c.name) + ", " + options.program);
      fs::remove_all(drive);
      std::vector<std::string> tree = c.tree;
      for (std::string& entry : tree) {
        if (entry.find("OTHER") != std::string::npos) entry.replace(entry.find("OTHER"), 5, other);
      }
      LayOutDrive(drive, tree, {kDescriptions, kHandlers}, {});
      const Snapshot before = TakeSnapshot(drive);
      const RunResult run = RunNative(drive, package, options);
      EXPECT_EQ(run.status, c.status);
      EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
      if (c.status == 3) {
        EXPECT_EQ(TakeSnapshot(drive), before);
      }
      EXPECT_EQ(TakeSnapshot(other), outside);
    }
  }
}

// Killed at the N-th call of each call that changes files, N = 1, 2, ... until a run gets
// through, a setup on a drive without the package and a remover on one the setup ran on: the
// hive is the old one or the new one, whole, and the next run finishes the job and leaves nothing
// beside it.
TEST_F(OfflineSetupTest, AKilledRunLeavesTheOldHiveOrTheNewOneWhole) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace here";
  const OfflineCase& xp = kCases[0];
  // LeakSanitizer cannot work under strace, and would fail every run there.
  const char* asan = std::getenv("ASAN_OPTIONS");
  setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
  int killed[2] = {0, 0};
  for (const bool removing : {false, true}) {
    RunOptions whole;
    whole.program = removing ? VORNREMOVE_PATH : VORNSETUP_PATH;
    for (const char* call :
         {"openat", "write", "fchmod", "fchown", "fsync", "rename", "unlinkat"}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(std::string(whole.program) + ": " + call + " " + std::to_string(n));
        LayOut(xp);
        if (removing) {
          EXPECT_EQ(RunNative(drive, package).status, 0);
        }
        const std::string inject =
            "inject=" + std::string(call) + ":signal=KILL:when=" + std::to_string(n);
        RunOptions options = whole;
        options.under = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", inject};
        const int status = RunNative(drive, package, options).status;
        if (status != 128 + SIGKILL) {
          EXPECT_EQ(status, 0);  // not killed: the call was made fewer than n times
          break;
        }
        ++killed[removing];
        const std::string handlers = ListedValues(drive + "/" + xp.hive, kHandlers);
        EXPECT_TRUE(handlers == "" || handlers == kHandled) << handlers;
        EXPECT_EQ(RunNative(drive, package, whole).status, 0);
        if (removing) {
          EXPECT_EQ(ListedValues(drive + "/" + xp.hive, kHandlers), "");
          EXPECT_EQ(ListFolder(drive + "/" + xp.system), "config ");
        } else {
          ExpectInstalled(xp);
        }
        EXPECT_EQ(ListFolder(drive + "/WINDOWS/system32/config"), "software ");
      }
    }
  }
  EXPECT_GT(killed[0], 10);
  EXPECT_GT(killed[1], 10);
  std::printf("%d setups and %d removers killed\n", killed[0], killed[1]);
}

// A setup and then the remover leave every value of the hive as it was, as a reader that is not
// libhivex reads them, and the system folder and system.ini as they were; a second removal finds
// nothing to remove and writes nothing.
TEST_F(OfflineSetupTest, TheRemoverTakesAwayWhatTheSetupAdded) {
  for (const OfflineCase& c : kCases) {
    if (c.box != kCompleteText) continue;
    SCOPED_TRACE(c.name);
    fs::remove_all(drive);
    const std::string prefix = c.handlers.substr(0, c.handlers.size() - kHandlers.size());
    LayOutDrive(drive, c.tree, c.keys,
                {{c.handlers, "vidc.mrle", REG_SZ, Utf16("msrle32.dll")},
                 {c.descriptions, "msrle32.dll", REG_SZ, Utf16("Microsoft RLE")},
                 {prefix + kNt, "CurrentVersion", REG_SZ, Utf16("5.1")},
                 {"Microsoft\\Other", "elsewhere", REG_BINARY, "far away"}});
    const std::string hive = drive + "/" + c.hive;
    // Each key's values, and the bytes of a value elsewhere, where libhivex leaves them.
    const std::size_t elsewhere = c.hive.empty() ? 0 : ValueRecord(hive, "elsewhere");
    const auto state = [&] {
      std::string values = ListFolder(drive + "/" + c.system);
      for (const std::string& key : c.keys) values += ListedValues(hive, key);
      if (c.hive.empty()) return values + ReadFile(drive + "/WINDOWS/system.ini");
      return values + ReadFile(hive).substr(elsewhere, 32);
    };
    const std::string before = state();
    ASSERT_EQ(RunNative(drive, package).status, 0);
    EXPECT_NE(state(), before);
    // A file replaced is a new file: its number, or at least its change time, is another.
    const auto identity = [&] {
      struct stat status;
      stat((c.hive.empty() ? drive + "/WINDOWS/system.ini" : hive).c_str(), &status);
      return std::to_string(status.st_ino) + " " + std::to_string(status.st_ctim.tv_sec) + "." +
             std::to_string(status.st_ctim.tv_nsec);
    };
    for (int run = 0; run < 2; ++run) {
      const std::string written = identity();
      const RunResult removal = RunNative(drive, package, Remover());
      EXPECT_EQ(removal.status, 0);
      EXPECT_EQ(removal.output, Box(kRemovedText));
      EXPECT_EQ(state(), before);
      EXPECT_EQ(run == 1, identity() == written) << "written only when it changed";
    }
  }
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
