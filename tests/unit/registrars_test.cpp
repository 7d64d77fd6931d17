// Both registrars under every combination of failing platform calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/messages.h"
#include "registration/registrars.h"
#include "tests/unit/scripted_machine.h"

namespace {

// The registry registrar's nine steps: two keys, each opened, written and closed.
struct KeySteps {
  int values;
};
constexpr KeySteps kKeys[] = {{2}, {3}};
constexpr int kSteps = 9;  // open + values + close, for both keys

bool Failing(unsigned mask, int step) {
  return (mask >> step & 1u) != 0;
}

TEST(RegisterViaRegistry, FailsExactlyWhenAnyStepFailsAndNeverUsesAKeyThatDidNotOpen) {
  for (unsigned mask = 0; mask < (1u << kSteps); ++mask) {
    SCOPED_TRACE("failing steps mask " + std::to_string(mask));
    ResetMachine();
    ScriptedMachine& machine = Machine();
    // Turn the failing steps into failing occurrences of each operation. Steps on a key that
    // did not open are never issued, so they take no occurrence.
    int step = 0, opens = 0, writes = 0, closes = 0;
    int expectedWrites = 0, expectedCloses = 0;
    bool anyFailure = false;
    for (const KeySteps& key : kKeys) {
      const bool opened = !Failing(mask, step);
      ++opens;
      if (!opened) machine.Fail(Op::RegOpenKeyExA, opens);
      anyFailure |= !opened;
      ++step;
      for (int v = 0; v < key.values; ++v, ++step) {
        if (!opened) continue;
        ++writes;
        if (Failing(mask, step)) machine.Fail(Op::RegSetValueExA, writes);
        anyFailure |= Failing(mask, step);
      }
      if (opened) {
        ++closes;
        if (Failing(mask, step)) machine.Fail(Op::RegCloseKey, closes);
        anyFailure |= Failing(mask, step);
      }
      ++step;
      expectedWrites += opened ? key.values : 0;
      expectedCloses += opened ? 1 : 0;
    }

    EXPECT_EQ(RegisterViaRegistry(), anyFailure ? kNotRegistered : kRegistered);
    EXPECT_EQ(machine.CallsOf(Op::RegOpenKeyExA).size(), 2u);
    EXPECT_EQ(machine.CallsOf(Op::RegSetValueExA).size(), static_cast<size_t>(expectedWrites));
    EXPECT_EQ(machine.CallsOf(Op::RegCloseKey).size(), static_cast<size_t>(expectedCloses));
    for (const std::string& line : machine.trace) {
      EXPECT_EQ(line.find("(not open)"), std::string::npos) << line;
    }
    EXPECT_TRUE(machine.Boxes().empty());
  }
}

TEST(RegisterViaProfile, FlushesWhenAnyWriteSucceededAndComplainsOnlyWhenNoneDid) {
  for (BOOL flushResult : {FALSE, TRUE}) {
    for (unsigned mask = 0; mask < 8; ++mask) {
      SCOPED_TRACE("failing writes mask " + std::to_string(mask) + ", flush returns " +
                   std::to_string(flushResult));
      ResetMachine();
      ScriptedMachine& machine = Machine();
      machine.flushResult = flushResult;
      for (int write = 0; write < 3; ++write) {
        if (Failing(mask, write)) machine.Fail(Op::WritePrivateProfileStringA, write + 1);
      }
      const bool noneWritten = mask == 7;

      // What the flush returns is no status: Windows answers nonzero for mapped profiles.
      EXPECT_EQ(RegisterViaProfile(), noneWritten ? kNotRegistered : kRegistered);
      const std::vector<std::string> calls = machine.CallsOf(Op::WritePrivateProfileStringA);
      ASSERT_EQ(calls.size(), noneWritten ? 3u : 4u);
      if (!noneWritten) {
        EXPECT_EQ(calls.back(), R"(WritePrivateProfileStringA(NULL, NULL, NULL, "system.ini"))");
      }
      EXPECT_EQ(machine.Boxes(), noneWritten ? std::vector<std::string>{kProfileFailedText}
                                             : std::vector<std::string>{});
    }
  }
}

}  // namespace
