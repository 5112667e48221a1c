#include <gtest/gtest.h>

#include <string>

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
        // Relative names are resolved against the current folder before the guard, like the shell.
        RequestCase{L"notes.txt", kAllowed},
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
        RequestCase{L"\\\\?\\C:", kRefused}));

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

}  // namespace
}  // namespace pel_mora
