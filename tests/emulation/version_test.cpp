// GetSystemDirectoryA and GetVersionExA on a machine folder: what its description says, given
// the way Windows gives it.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"
#include "tests/emulation/machine_folder.h"

namespace {

TEST_F(EmulatedMachineTest, SystemDirectoryNeverOverrunsTheBuffer) {
  const std::string directory = "C:\\WINDOWS\\SYSTEM32";  // 19 characters
  for (UINT size = 0; size <= 24; ++size) {
    SCOPED_TRACE("buffer of " + std::to_string(size));
    char buffer[32];
    std::memset(buffer, 0xcc, sizeof buffer);
    const UINT result = GetSystemDirectoryA(buffer, size);
    if (size >= 20) {
      EXPECT_EQ(result, 19u);
      EXPECT_STREQ(buffer, directory.c_str());
    } else {
      EXPECT_EQ(result, 20u);  // the size it needs, and nothing written
      EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xcc);
    }
    EXPECT_EQ(static_cast<unsigned char>(buffer[size < 20 ? 0 : 20]), 0xcc);
  }
}

TEST_F(EmulatedMachineTest, VersionComesFromTheDescription) {
  struct {
    const char* platform;
    BOOL result;
    DWORD platformId;
  } const cases[] = {
      {"nt", TRUE, 2}, {"95", TRUE, 1}, {"0", TRUE, 0}, {"7", TRUE, 7}, {"fail", FALSE, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.platform);
    folder.Describe(c.platform);
    folder.OpenFresh();
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = 148;
    version.dwPlatformId = kSentinel;
    EXPECT_EQ(GetVersionExA(&version), c.result);
    EXPECT_EQ(version.dwPlatformId, c.result ? c.platformId : kSentinel);
  }
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = 0;  // Windows wants the size set
  EXPECT_EQ(GetVersionExA(&version), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
