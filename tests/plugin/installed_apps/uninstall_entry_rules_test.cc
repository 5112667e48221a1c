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

}  // namespace
}  // namespace pel_mora
