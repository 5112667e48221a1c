#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/installed_apps/uninstall_entry_rules.h"

namespace pel_mora {
namespace {

using Kind = RegistryValueReading::Kind;

RegistryValueReading Absent() {
  return {};
}
RegistryValueReading Dword(uint32_t number) {
  return {Kind::kDword, number, {}};
}
RegistryValueReading Text(const wchar_t* text) {
  return {Kind::kString, 0, text};
}
RegistryValueReading OtherType() {
  return {Kind::kOther, 0, {}};
}

struct EntryCase {
  const char* situation;
  UninstallEntryMarks marks;
  bool listed;
};

TEST(UninstallEntryFilterTest, ListsOnlyNamedStandaloneEntriesWithAnUninstaller) {
  const std::vector<EntryCase> cases = {
      {"plain entry", {Absent(), Absent(), L"App", L"uninst.exe"}, true},
      {"system component", {Dword(1), Absent(), L"App", L"uninst.exe"}, false},
      {"system component 0", {Dword(0), Absent(), L"App", L"uninst.exe"}, true},
      {"system component 2", {Dword(2), Absent(), L"App", L"uninst.exe"}, true},
      {"system component as a string", {Text(L"1"), Absent(), L"App", L"uninst.exe"}, true},
      {"no display name", {Absent(), Absent(), L"", L"uninst.exe"}, false},
      {"no uninstall string", {Absent(), Absent(), L"App", L""}, false},
      {"parent as a non-zero DWORD", {Absent(), Dword(7), L"App", L"uninst.exe"}, false},
      {"parent as a zero DWORD", {Absent(), Dword(0), L"App", L"uninst.exe"}, true},
      {"parent named by a string", {Absent(), Text(L"Office16"), L"Update", L"uninst.exe"}, false},
      {"parent as an empty string", {Absent(), Text(L""), L"App", L"uninst.exe"}, true},
      {"parent of another type", {Absent(), OtherType(), L"App", L"uninst.exe"}, true},
  };
  for (const EntryCase& entry : cases) {
    EXPECT_EQ(IsListedUninstallEntry(entry.marks), entry.listed) << entry.situation;
  }
}

TEST(EstimatedSizeTest, KibibytesOfADwordOnly) {
  EXPECT_EQ(EstimatedSizeBytes(Dword(2048)), 2097152);
  EXPECT_EQ(EstimatedSizeBytes(Dword(0xFFFFFFFFu)), int64_t{0xFFFFFFFF} * 1024) << "no 32-bit overflow";
  EXPECT_EQ(EstimatedSizeBytes(Absent()), 0);
  EXPECT_EQ(EstimatedSizeBytes(Text(L"2048")), 0);
  EXPECT_EQ(EstimatedSizeBytes(OtherType()), 0);
}

// Records what it was asked to start and answers as told.
class ScriptedStarter : public CommandStarter {
 public:
  ScriptedStarter(bool process_starts, intptr_t shell_result)
      : process_starts_(process_starts), shell_result_(shell_result) {}

  bool StartProcess(const std::wstring& command_line) override {
    calls.push_back(L"process:" + command_line);
    return process_starts_;
  }
  intptr_t OpenWithShell(const std::wstring& file) override {
    calls.push_back(L"shell:" + file);
    return shell_result_;
  }

  std::vector<std::wstring> calls;

 private:
  bool process_starts_;
  intptr_t shell_result_;
};

TEST(LaunchUninstallCommandTest, ProcessFirstThenTheShellWithTheWholeText) {
  const std::wstring command = L"\"C:\\Program Files\\App\\uninst.exe\" /S /log=\"a b\"";
  struct LaunchCase {
    const char* situation;
    bool process_starts;
    intptr_t shell_result;
    bool launched;
    std::vector<std::wstring> calls;
  };
  const std::vector<LaunchCase> cases = {
      {"process starts", true, 0, true, {L"process:" + command}},
      {"shell opens it", false, 42, true, {L"process:" + command, L"shell:" + command}},
      {"shell answers 33", false, 33, true, {L"process:" + command, L"shell:" + command}},
      {"shell answers 32", false, 32, false, {L"process:" + command, L"shell:" + command}},
      {"shell answers file not found", false, 2, false, {L"process:" + command, L"shell:" + command}},
  };
  for (const LaunchCase& launch : cases) {
    ScriptedStarter starter(launch.process_starts, launch.shell_result);
    EXPECT_EQ(LaunchUninstallCommand(command, starter), launch.launched) << launch.situation;
    EXPECT_EQ(starter.calls, launch.calls) << launch.situation;
  }
}

TEST(LaunchUninstallCommandTest, EmptyCommandStartsNothing) {
  ScriptedStarter starter(true, 42);
  EXPECT_FALSE(LaunchUninstallCommand(L"", starter));
  EXPECT_TRUE(starter.calls.empty());
}

}  // namespace
}  // namespace pel_mora
