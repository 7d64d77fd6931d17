#include "tests/emulation/setup_cases.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "registration/messages.h"

namespace fs = std::filesystem;

std::string InsertAfter(std::string text, const std::string& anchor, const std::string& lines) {
  text.insert(text.find(anchor) + anchor.size(), lines);
  return text;
}

const std::string kHandlerLines =
    "\"vidc.jix1\"=\"vornjixd.dll\"\r\n\"vidc.jix2\"=\"vornjix2.dll\"\r\n"
    "\"vidc.uyvy\"=\"vornjixd.dll\"\r\n";
const std::string kRegisteredStore = InsertAfter(
    InsertAfter(
        kFreshStore, "\"Microsoft Video 1\"\r\n",
        "\"vornjixd.dll\"=\"VORN JIX1 Decoder\"\r\n\"vornjix2.dll\"=\"VORN JIX2 Decoder\"\r\n"),
    "\"msacm32.drv\"\r\n", kHandlerLines);

Bench::Bench() {
  folder.OpenFresh();
  package = folder.work + "/package";
  outside = folder.work + "/outside";
  WriteFile(package + "/vornjixd.dll", kFirstDecoder);
  WriteFile(package + "/vornjix2.dll", kSecondDecoder);
  WriteFile(outside + "/HKLM.reg", kFreshStore);
  WriteFile(outside + "/system.ini", kFreshSystemIni);
  fs::create_directory(outside + "/SYSTEM32");
}

void Bench::Edit(const std::string& path, const std::function<std::string(std::string)>& change) {
  WriteFile(At(path), change(ReadFile(At(path))));
}

void Nothing(Snapshot&) {}

void FirstInstalled(Snapshot& machine) {
  machine[kSystem32 + "/vornjixd.dll"] = kFirstDecoder;
}

void Installed(Snapshot& machine) {
  FirstInstalled(machine);
  machine[kSystem32 + "/vornjix2.dll"] = kSecondDecoder;
}

void InstalledAndRegistered(Snapshot& machine) {
  Installed(machine);
  machine[kStore] = kRegisteredStore;
}

void Removed(Snapshot& machine) {
  machine.erase(kSystem32 + "/vornjixd.dll");
  machine.erase(kSystem32 + "/vornjix2.dll");
  machine[kStore] = kFreshStore;
  machine[kSystemIni] = kFreshSystemIni;
}

void RunSetupOn(Bench& bench) {
  EXPECT_EQ(RunNative(bench.folder.machine, bench.package).status, 0);
}

void CheckRuns(const std::vector<RunCase>& cases) {
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    c.prepare(bench);
    Snapshot expected = TakeSnapshot(bench.folder.machine);
    c.changes(expected);
    const Snapshot outside = TakeSnapshot(bench.outside);

    const RunResult run = RunNative(bench.folder.machine, bench.package, c.options);
    EXPECT_EQ(run.status, c.status);
    // What the machine itself reports comes first, on lines of its own.
    std::string boxes;
    for (const std::string& text : c.boxes) boxes += Box(text);
    const std::size_t firstBox = run.output.find("+-");
    const std::string reported = run.output.substr(0, std::min(firstBox, run.output.size()));
    EXPECT_EQ(run.output.substr(reported.size()), boxes);
    for (const std::string& says : c.says) {
      EXPECT_NE(reported.find(says), std::string::npos) << says << " not in:\n" << reported;
    }
    if (c.says.empty()) {
      EXPECT_EQ(reported, "");
    }
    // Nothing is said twice.
    std::set<std::string> lines;
    for (std::size_t at = 0, end; at < reported.size(); at = end + 1) {
      end = reported.find('\n', at);
      EXPECT_TRUE(lines.insert(reported.substr(at, end - at)).second) << reported;
    }
    EXPECT_EQ(TakeSnapshot(bench.folder.machine), expected);
    EXPECT_EQ(TakeSnapshot(bench.outside), outside);
  }
}
