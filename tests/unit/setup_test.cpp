// The setup's sequence against a scripted machine: the calls it makes, the boxes it shows and
// the status it ends with, on each Windows family and when any step fails.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "registration/messages.h"
#include "registration/registrars.h"
#include "setup/setup.h"
#include "tests/unit/scripted_machine.h"

namespace {

using Lines = std::vector<std::string>;

// The one place the tests spell the texts of the setup and the remover out by hand, byte for
// byte: every other test takes them from their own header.
TEST(Texts, AreTheProgramsOwnByteForByte) {
  const struct {
    const char* got;
    const char* expected;
  } kTexts[] = {
      {kSetupTitle, "VORN VORN Video Decoder Setup"},
      {kCompleteText, "            Installation is complete.            "},
      {kNotCompleteText, "          Installation is NOT complete.          "},
      {kInUseText,
       "Previous installed VORN video decoder is in use.\nPlease stop the video application or "
       "reboot your system first.\nThen install VORN video decoder again."},
      {kWrongVersionText, "Wrong Windows Version"},
      {kProfileFailedText,
       "Fail to update registry.\nPlease stop the video application or reboot your system "
       "first.\nThen install VORN JIX1 decoder again."},
      {kRemovedText, "The VORN video decoders are removed."},
      {kNotRemovedText,
       "The VORN video decoders are NOT completely removed.\nWindows did not let the remover "
       "change their registration.\nRun the remover again as an administrator."},
      {kRemovalInUseText,
       "A VORN video decoder is in use and could not be removed.\nPlease close the video "
       "application or restart Windows.\nThen run the remover again."},
  };
  for (const auto& text : kTexts) EXPECT_STREQ(text.got, text.expected);
  EXPECT_EQ(std::strlen(kCompleteText), 49u);
  EXPECT_EQ(std::strlen(kNotCompleteText), 49u);
}

const Lines kCopies = {
    R"(GetSystemDirectoryA(buffer, 128))",
    R"(lstrcatA("C:\\WINDOWS\\SYSTEM32", "\\"))",
    R"(lstrcatA("C:\\WINDOWS\\SYSTEM32\\", "vornjixd.dll"))",
    R"(CopyFileA("vornjixd.dll", "C:\\WINDOWS\\SYSTEM32\\vornjixd.dll", 0))",
    R"(GetSystemDirectoryA(buffer, 128))",
    R"(lstrcatA("C:\\WINDOWS\\SYSTEM32", "\\"))",
    R"(lstrcatA("C:\\WINDOWS\\SYSTEM32\\", "vornjix2.dll"))",
    R"(CopyFileA("vornjix2.dll", "C:\\WINDOWS\\SYSTEM32\\vornjix2.dll", 0))",
    R"(GetVersionExA(dwOSVersionInfoSize 148))",
};

const Lines kRegistryWrites = {
    R"(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc", 0, 0x20006))",
    R"(RegSetValueExA(hkey1, "vornjixd.dll", 0, 1, "VORN JIX1 Decoder\0", 18))",
    R"(RegSetValueExA(hkey1, "vornjix2.dll", 0, 1, "VORN JIX2 Decoder\0", 18))",
    R"(RegCloseKey(hkey1))",
    R"(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", 0, 0x20006))",
    R"(RegSetValueExA(hkey2, "vidc.jix1", 0, 1, "vornjixd.dll\0", 13))",
    R"(RegSetValueExA(hkey2, "vidc.jix2", 0, 1, "vornjix2.dll\0", 13))",
    R"(RegSetValueExA(hkey2, "vidc.uyvy", 0, 1, "vornjixd.dll\0", 13))",
    R"(RegCloseKey(hkey2))",
};

const Lines kProfileWrites = {
    R"(WritePrivateProfileStringA("drivers32", "vidc.jix1", "vornjixd.dll", "system.ini"))",
    R"(WritePrivateProfileStringA("drivers32", "vidc.jix2", "vornjix2.dll", "system.ini"))",
    R"(WritePrivateProfileStringA("drivers32", "vidc.uyvy", "vornjixd.dll", "system.ini"))",
};
const char kFlush[] = R"(WritePrivateProfileStringA(NULL, NULL, NULL, "system.ini"))";

std::string Box(const std::string& text) {
  return "MessageBoxA(NULL, " + Quote(text) + ", " + Quote(kSetupTitle) + ", 0x1000)";
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

ExitStatus RunPlainly() {
  char program[] = "vornsetup.exe";
  char* argv[] = {program, nullptr};
  return RunSetup(1, argv);
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetMachine(); }
  ScriptedMachine& machine = Machine();
};

TEST_F(SetupTest, NtFamilyRegistersInTheRegistry) {
  EXPECT_EQ(RunPlainly(), kRegistrarRan);
  EXPECT_EQ(machine.trace, Join({kCopies, kRegistryWrites, {Box(kCompleteText)}}));
}

TEST_F(SetupTest, NineFiveFamilyRegistersInSystemIni) {
  machine.platformId = VER_PLATFORM_WIN32_WINDOWS;
  EXPECT_EQ(RunPlainly(), kRegistrarRan);
  EXPECT_EQ(machine.trace, Join({kCopies, kProfileWrites, {kFlush, Box(kCompleteText)}}));
}

TEST_F(SetupTest, ArgumentsChangeNothing) {
  RunPlainly();
  const Lines plain = machine.trace;
  ResetMachine();
  char program[] = "vornsetup.exe", uninstall[] = "/uninstall", quiet[] = "/S", empty[] = "";
  char* argv[] = {program, uninstall, quiet, empty, nullptr};
  EXPECT_EQ(RunSetup(4, argv), kRegistrarRan);
  EXPECT_EQ(machine.trace, plain);
}

// How the driver ends when a step of its own fails or the platform is not one it knows.
struct DriverCase {
  const char* name;
  std::function<void(ScriptedMachine&)> script;
  Lines boxes;
  ExitStatus status;
  bool registers;  // a registrar ran
};

TEST_F(SetupTest, EachFailureEndsWithItsBoxAndStatus) {
  const DriverCase cases[] = {
      {"first copy fails",
       [](ScriptedMachine& m) { m.Fail(Op::CopyFileA, 1); },
       {kCompleteText},
       kRegistrarRan,
       true},
      {"second copy fails",
       [](ScriptedMachine& m) { m.Fail(Op::CopyFileA, 2); },
       {kInUseText},
       kSecondCopyFailed,
       false},
      {"both copies fail",
       [](ScriptedMachine& m) {
         m.Fail(Op::CopyFileA, 1);
         m.Fail(Op::CopyFileA, 2);
       },
       {kInUseText},
       kSecondCopyFailed,
       false},
      {"no system directory",
       [](ScriptedMachine& m) { m.systemDirectory.reset(); },
       {kInUseText},
       kSecondCopyFailed,
       false},
      {"system directory lost for the second file",
       [](ScriptedMachine& m) { m.Fail(Op::GetSystemDirectoryA, 2); },
       {kInUseText},
       kSecondCopyFailed,
       false},
      {"the second path cannot be put together",
       [](ScriptedMachine& m) { m.Fail(Op::lstrcatA, 4); },
       {kInUseText},
       kSecondCopyFailed,
       false},
      {"version query fails",
       [](ScriptedMachine& m) { m.versionQueryFails = true; },
       {kWrongVersionText},
       kUnsupportedPlatform,
       false},
      {"Win32s",
       [](ScriptedMachine& m) { m.platformId = VER_PLATFORM_WIN32s; },
       {kWrongVersionText},
       kUnsupportedPlatform,
       false},
      {"an unknown family",
       [](ScriptedMachine& m) { m.platformId = 3; },
       {kWrongVersionText},
       kUnsupportedPlatform,
       false},
      {"registry registrar fails",
       [](ScriptedMachine& m) { m.Fail(Op::RegOpenKeyExA, 1); },
       {kNotCompleteText},
       kRegistrarRan,
       true},
      {"profile registrar fails",
       [](ScriptedMachine& m) {
         m.platformId = VER_PLATFORM_WIN32_WINDOWS;
         for (int i = 1; i <= 3; ++i) m.Fail(Op::WritePrivateProfileStringA, i);
       },
       {kProfileFailedText, kNotCompleteText},
       kRegistrarRan,
       true},
  };
  for (const DriverCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    c.script(machine);
    EXPECT_EQ(RunPlainly(), c.status);
    EXPECT_EQ(machine.Boxes(), c.boxes);
    const bool registered = !machine.CallsOf(Op::RegOpenKeyExA).empty() ||
                            !machine.CallsOf(Op::WritePrivateProfileStringA).empty();
    EXPECT_EQ(registered, c.registers);
    // The second file decides before the version is asked.
    EXPECT_EQ(machine.CallsOf(Op::GetVersionExA).size(), c.status == kSecondCopyFailed ? 0u : 1u);
  }
}

TEST_F(SetupTest, NoTruncatedPathIsEverCopiedTo) {
  // Every length from none to far beyond the buffer; AddressSanitizer watches the buffer.
  for (std::size_t length = 0; length <= 300; ++length) {
    SCOPED_TRACE("system directory of " + std::to_string(length) + " characters");
    ResetMachine();
    std::string directory = "C:\\";
    directory.resize(length < 3 ? 3 : length, 'd');
    directory.resize(length);
    machine.systemDirectory = directory;
    const ExitStatus status = RunPlainly();
    const bool fits = length >= 1 && length <= 114;
    if (fits) {
      EXPECT_EQ(status, kRegistrarRan);
      EXPECT_EQ(
          machine.CallsOf(Op::CopyFileA),
          (Lines{"CopyFileA(\"vornjixd.dll\", " + Quote(directory + "\\vornjixd.dll") + ", 0)",
                 "CopyFileA(\"vornjix2.dll\", " + Quote(directory + "\\vornjix2.dll") + ", 0)"}));
    } else {
      EXPECT_EQ(status, kSecondCopyFailed);
      EXPECT_EQ(machine.CallsOf(Op::CopyFileA), Lines{});
      EXPECT_EQ(machine.Boxes(), Lines{kInUseText});
    }
  }
}

TEST_F(SetupTest, APlatformThatOverstatesOrUnderstatesIsNotTrusted) {
  const std::function<UINT(LPSTR, UINT)> answers[] = {
      // Fills the whole buffer without a terminating zero and claims a short path.
      [](LPSTR buffer, UINT size) {
        std::memset(buffer, 'x', size);
        return 10u;
      },
      // Writes 120 characters but claims 100.
      [](LPSTR buffer, UINT) {
        std::memset(buffer, 'x', 120);
        buffer[120] = '\0';
        return 100u;
      },
      // Claims exactly the buffer size.
      [](LPSTR, UINT size) { return size; },
  };
  for (const auto& answer : answers) {
    ResetMachine();
    machine.systemDirectoryOverride = answer;
    EXPECT_EQ(RunPlainly(), kSecondCopyFailed);
    EXPECT_EQ(machine.CallsOf(Op::CopyFileA), Lines{});
  }
}

}  // namespace
