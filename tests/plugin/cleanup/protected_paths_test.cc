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

TEST(WithoutDevicePrefixTest, GivesThePlainForm) {
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\?\\C:\\a\\b"), L"C:\\a\\b");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\.\\C:\\a"), L"C:\\a");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\?\\unc\\server\\share\\a"), L"\\\\server\\share\\a");
  EXPECT_EQ(WithoutDevicePrefix(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(WithoutDevicePrefix(L"C:/a//b"), L"C:\\a\\b");
}

}  // namespace
}  // namespace pel_mora
