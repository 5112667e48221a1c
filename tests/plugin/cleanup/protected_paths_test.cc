#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "plugin/cleanup/file_identity.h"
#include "plugin/cleanup/protected_paths.h"

namespace pel_mora {
namespace {

struct GuardCase {
  std::wstring path;
  wchar_t windows_drive;
  RecycleVerdict expected;
};

void PrintTo(const GuardCase& guard_case, std::ostream* stream) {
  *stream << "path of " << guard_case.path.size() << " units, Windows on drive "
          << static_cast<char>(guard_case.windows_drive);
}

class RecycleGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(RecycleGuardTest, RefusesRootsAndSystemLocations) {
  EXPECT_EQ(CheckRecyclablePath(GetParam().path, GetParam().windows_drive), GetParam().expected)
      << std::string(GetParam().path.begin(), GetParam().path.end());
}

constexpr RecycleVerdict kRefused = RecycleVerdict::kRefused;
constexpr RecycleVerdict kAllowed = RecycleVerdict::kAllowed;

INSTANTIATE_TEST_SUITE_P(
    Paths, RecycleGuardTest,
    ::testing::Values(
        // Case and slash direction do not matter; the test is a plain prefix test.
        GuardCase{L"C:\\Windows\\System32\\drivers", L'C', kRefused},
        GuardCase{L"c:/windows/system32", L'C', kRefused},
        GuardCase{L"C:\\Windows\\SysWOW64", L'C', kRefused},
        GuardCase{L"C:\\Windows\\WinSxS\\x86_a", L'C', kRefused},
        GuardCase{L"C:\\Windows\\Boot\\EFI", L'C', kRefused},
        GuardCase{L"C:\\bootmgr", L'C', kRefused},
        GuardCase{L"C:\\Boot.ini", L'C', kRefused},
        GuardCase{L"C:\\EFI\\Microsoft", L'C', kRefused},
        GuardCase{L"C:\\Recovery", L'C', kRefused},
        GuardCase{L"C:\\System Volume Information\\x", L'C', kRefused},
        GuardCase{L"C:\\pagefile.sys", L'C', kRefused},
        GuardCase{L"C:\\hiberfil.sys", L'C', kRefused},
        GuardCase{L"C:\\swapfile.sys", L'C', kRefused},
        // Drive roots of any letter, and anything shorter than a root.
        GuardCase{L"C:\\", L'C', kRefused},
        GuardCase{L"D:/", L'C', kRefused},
        GuardCase{L"C:", L'C', kRefused},
        GuardCase{L"", L'C', kRefused},
        // The device and extended-length forms reach the same files and are judged as such.
        GuardCase{L"\\\\?\\C:\\Windows\\System32\\x", L'C', kRefused},
        GuardCase{L"\\\\.\\C:\\Windows\\System32\\x", L'C', kRefused},
        GuardCase{L"//?/c:/windows/system32/x", L'C', kRefused},
        GuardCase{L"\\\\?\\C:\\", L'C', kRefused},
        GuardCase{L"\\\\?\\C:", L'C', kRefused},
        GuardCase{L"\\\\.\\D:\\", L'C', kRefused},
        GuardCase{L"\\\\?\\C:\\Users\\me\\old.txt", L'C', kAllowed},
        GuardCase{L"\\\\?\\UNC\\server\\share\\file.txt", L'C', kAllowed},
        // Locations the list does not name stay allowed.
        GuardCase{L"C:\\Windows", L'C', kAllowed},
        GuardCase{L"C:\\Windows\\Temp", L'C', kAllowed},
        GuardCase{L"D:\\Windows\\System32", L'C', kAllowed},
        GuardCase{L"C:\\Users\\me\\Downloads\\setup.exe", L'C', kAllowed},
        // Windows on another drive: that drive's locations are refused too, drive C's stay refused.
        GuardCase{L"D:\\Windows\\System32\\kernel32.dll", L'D', kRefused},
        GuardCase{L"d:\\pagefile.sys", L'd', kRefused},
        GuardCase{L"\\\\?\\D:\\Windows\\WinSxS", L'D', kRefused},
        GuardCase{L"C:\\Windows\\System32", L'D', kRefused},
        GuardCase{L"E:\\Windows\\System32", L'D', kAllowed},
        GuardCase{L"D:\\Games\\save.dat", L'D', kAllowed}));

struct RequestCase {
  std::wstring path;
  RecycleVerdict expected;
};

void PrintTo(const RequestCase& request_case, std::ostream* stream) {
  *stream << "request of " << request_case.path.size() << " units";
}

class RecycleRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RecycleRequestTest, RefusesWhatTheShellWouldReadAsSomethingElse) {
  EXPECT_EQ(CheckRecyclableRequest(GetParam().path), GetParam().expected)
      << std::string(GetParam().path.begin(), GetParam().path.end());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RecycleRequestTest,
    ::testing::Values(
        RequestCase{L"C:\\Users\\me\\old.txt", kAllowed},
        RequestCase{L"C:\\Users\\me\\a name with spaces.tar.gz", kAllowed},
        RequestCase{L"\\\\server\\share\\file.txt", kAllowed},
        RequestCase{L"\\\\?\\C:\\Users\\me\\old.txt", kAllowed},
        RequestCase{L"\\\\.\\C:\\Users\\me\\old.txt", kAllowed},
        RequestCase{L"\\\\?\\UNC\\server\\share\\file.txt", kAllowed},
        // Relative names would be resolved against the host's current folder, the program's own.
        RequestCase{L"notes.txt", kRefused},
        RequestCase{L"data", kRefused},
        RequestCase{L"\\data", kRefused},
        RequestCase{L"C:data", kRefused},
        RequestCase{L"C:..\\data", kRefused},
        // The shell would expand these into every matching name of the folder.
        RequestCase{L"C:\\*", kRefused},
        RequestCase{L"C:\\Windows\\Sys*", kRefused},
        RequestCase{L"C:\\Users\\me\\?.txt", kRefused},
        RequestCase{L"C:\\Users\\me\\<.txt", kRefused},
        RequestCase{L"C:\\Users\\me\\a>b", kRefused},
        RequestCase{L"C:\\Users\\me\\a\"b", kRefused},
        RequestCase{L"C:\\Users\\me\\a|b", kRefused},
        RequestCase{L"\\\\?\\C:\\Windows\\Sys*", kRefused},
        // A NUL would end this name and start a second one in the shell's list.
        RequestCase{std::wstring(L"C:\\Users\\me\\a.txt\0C:\\Windows\\System32", 37), kRefused},
        // Streams, including the one that names a folder itself.
        RequestCase{L"C:\\Windows::$INDEX_ALLOCATION\\System32", kRefused},
        RequestCase{L"C:\\Users\\me\\a.txt:hidden", kRefused},
        // Device forms that lead to no drive path or share.
        RequestCase{L"\\\\.\\PhysicalDrive0", kRefused},
        RequestCase{L"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-000000000000}\\Windows", kRefused},
        RequestCase{L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows", kRefused},
        RequestCase{L"\\\\.\\UNC\\server\\share", kRefused},
        RequestCase{L"\\\\?\\C:relative", kRefused},
        RequestCase{L"\\\\?\\C:", kRefused},
        // Names the path parser would shorten to a sibling's name ("Album." to "Album").
        RequestCase{L"C:\\Users\\me\\keep.txt.", kRefused},
        RequestCase{L"C:\\Users\\me\\notes.txt ", kRefused},
        RequestCase{L"C:\\Users\\me\\Album.\\photo.jpg", kRefused},
        RequestCase{L"C:\\Users\\me\\Album \\photo.jpg", kRefused},
        RequestCase{L"\\\\?\\C:\\Users\\me\\keep.txt.", kRefused},
        RequestCase{L"C:\\Users\\me\\...", kRefused},
        // Dots inside a name, and "." and ".." parts, which are resolved before the shell sees them.
        RequestCase{L"C:\\Users\\me\\.config\\a.b.c", kAllowed},
        RequestCase{L"C:\\Users\\me\\..\\me\\.\\old.txt", kAllowed},
        RequestCase{L"C:\\Users\\me\\folder\\", kAllowed}));

TEST(LiteralPathFormTest, OnlyTheExtendedLengthFormIsLiteral) {
  EXPECT_TRUE(IsLiteralPathForm(L"\\\\?\\C:\\a."));
  EXPECT_TRUE(IsLiteralPathForm(L"\\\\?\\UNC\\server\\share"));
  EXPECT_FALSE(IsLiteralPathForm(L"\\\\.\\C:\\a"));
  EXPECT_FALSE(IsLiteralPathForm(L"C:\\a."));
  EXPECT_FALSE(IsLiteralPathForm(L"\\\\server\\share"));
}

TEST(WithoutDevicePrefixTest, GivesThePlainForm) {
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\?\\C:\\a\\b"), L"C:\\a\\b");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\.\\C:\\a"), L"C:\\a");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\?\\unc\\server\\share\\a"), L"\\\\server\\share\\a");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(WithoutDevicePrefix(L"C:/a//b"), L"C:\\a\\b");
}

// Objects as a volume would number them: a drive root (1), its Windows folder (2) with System32
// (3) below it, a file in System32 (4), Program Files (5) with a program below it (6), the users
// folder (7), a profile (8) with a document (9), and a root of another drive (20) with a file (21).
FileIdentity Object(uint64_t id, uint64_t volume = 7) { return FileIdentity{volume, 0, id}; }

TEST(RecyclableObjectTest, JudgesTheObjectAndWhatLiesAboveIt) {
  const ProtectedObjects protected_objects{
      .system_locations = {Object(3)},
      .holders = {Object(2), Object(1), Object(20)},
      .kept_folders = {Object(5), Object(7), Object(8)},
      .user_profiles = Object(7),
  };
  struct ObjectCase {
    const char* name;
    IdentityChain chain;
    RecycleVerdict expected;
  };
  const ObjectCase cases[] = {
      {"a system location", {Object(3), Object(2), Object(1)}, kRefused},
      {"below a system location", {Object(4), Object(3), Object(2), Object(1)}, kRefused},
      {"the folder holding one", {Object(2), Object(1)}, kRefused},
      {"a root", {Object(1)}, kRefused},
      {"a holder with no parent known", {Object(20), Object(1)}, kRefused},
      {"a kept folder", {Object(5), Object(1)}, kRefused},
      {"the users folder", {Object(7), Object(1)}, kRefused},
      {"the profile", {Object(8), Object(7), Object(1)}, kRefused},
      {"inside a kept folder", {Object(6), Object(5), Object(1)}, kAllowed},
      {"a document", {Object(9), Object(8), Object(7), Object(1)}, kAllowed},
      // Another user's profile (30), whatever letter names the users folder, and what it holds.
      {"another user's profile", {Object(30), Object(7), Object(1)}, kRefused},
      {"another user's profile through a letter", {Object(30), Object(7)}, kRefused},
      {"in another user's profile", {Object(31), Object(30), Object(7), Object(1)}, kAllowed},
      {"a file of another drive", {Object(21), Object(20)}, kAllowed},
      // The same number on another volume is another object.
      {"System32's number elsewhere", {Object(3, 8), Object(1, 8)}, kAllowed},
      {"nothing known", {}, kRefused},
  };
  for (const ObjectCase& test_case : cases) {
    EXPECT_EQ(CheckRecyclableObject(test_case.chain, protected_objects), test_case.expected) << test_case.name;
  }
  const FileIdentity high_only{7, 1, 3};
  EXPECT_EQ(CheckRecyclableObject({high_only, Object(1)}, protected_objects), kAllowed)
      << "the high half of a 128-bit id counts";
}

TEST(FinalPathTest, ParentAndRootStopAtTheVolume) {
  struct PathCase {
    const wchar_t* path;
    std::optional<std::wstring> parent;
    std::optional<std::wstring> root;
  };
  const PathCase cases[] = {
      {L"\\\\?\\C:\\Windows\\System32", L"\\\\?\\C:\\Windows", L"\\\\?\\C:\\"},
      {L"\\\\?\\c:\\Windows", L"\\\\?\\c:\\", L"\\\\?\\c:\\"},
      {L"\\\\?\\C:\\Windows\\", L"\\\\?\\C:\\", L"\\\\?\\C:\\"},
      {L"\\\\?\\C:\\", std::nullopt, L"\\\\?\\C:\\"},
      {L"\\\\?\\UNC\\server\\share\\a\\b", L"\\\\?\\UNC\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\"},
      {L"\\\\?\\UNC\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\", L"\\\\?\\UNC\\server\\share\\"},
      {L"\\\\?\\UNC\\server\\share\\", std::nullopt, L"\\\\?\\UNC\\server\\share\\"},
      {L"\\\\?\\Volume{0b1c2d3e}\\a", L"\\\\?\\Volume{0b1c2d3e}\\", L"\\\\?\\Volume{0b1c2d3e}\\"},
      {L"C:\\Windows", std::nullopt, std::nullopt},
      {L"\\\\?\\UNC\\server", std::nullopt, std::nullopt},
      {L"\\\\?\\GLOBALROOT\\Device\\x", std::nullopt, std::nullopt},
      {L"", std::nullopt, std::nullopt},
  };
  for (const PathCase& test_case : cases) {
    EXPECT_EQ(ParentOfFinalPath(test_case.path), test_case.parent) << "case " << (&test_case - cases);
    EXPECT_EQ(RootOfFinalPath(test_case.path), test_case.root) << "case " << (&test_case - cases);
  }
}

TEST(EntryNameTest, LastNamesAreComparedWithOnlyAToZFolded) {
  EXPECT_EQ(LastNameOfPath(L"\\\\?\\C:\\a\\Report.TXT"), L"Report.TXT");
  EXPECT_EQ(LastNameOfPath(L"D:\\report.txt"), L"report.txt");
  EXPECT_EQ(LastNameOfPath(L"D:\\"), L"");
  struct NameCase {
    const wchar_t* first;
    const wchar_t* second;
    bool same;
  };
  const NameCase cases[] = {
      {L"Report.TXT", L"report.txt", true},
      {L"report.txt", L"report.txt", true},
      {L"report.txt", L"report.txt2", false},
      {L"beside.txt", L"target.txt", false},
      // Only A to Z fold: other letters in another case count as another name.
      {L"\u00C9t\u00E9.txt", L"\u00E9t\u00E9.txt", false},
      {L"", L"", true},
  };
  for (const NameCase& test_case : cases) {
    EXPECT_EQ(IsSameEntryName(test_case.first, test_case.second), test_case.same) << "case " << (&test_case - cases);
  }
}

}  // namespace
}  // namespace pel_mora
