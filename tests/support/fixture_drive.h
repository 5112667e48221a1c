#pragma once

// Fixture drives for Windows tests under Wine: a fresh folder of the test run, reachable through
// a drive letter of its own, with helpers to fill it.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pel_mora::test_support {

// The kinds of volume a fixture drive can pretend to be.
enum class FixtureDriveType { kFixed, kRemovable, kNetwork, kCdRom, kRamDisk };

// An environment variable of the test run (the wrapper sets PELMORA_TEST_TMP and WINEPREFIX).
// Throws std::runtime_error when it is not set.
std::wstring EnvironmentVariable(const wchar_t* name);

// The Windows path under which Wine shows a Unix path: Wine maps the Unix root to drive Z.
std::wstring WindowsPathOfUnixPath(std::wstring_view unix_path);

// Starts a program of the Unix host (for example "/bin/ln") from inside Wine, with `arguments`
// quoted for it. Wine gives no usable process handle or exit code for such a program, so this
// does not wait: callers poll for the program's effect. Throws std::runtime_error when the
// program cannot be started.
void StartUnixProgram(std::wstring_view program, std::initializer_list<std::wstring_view> arguments);

// Gives a Unix folder a free drive letter of the test's Wine prefix (a symbolic link
// $WINEPREFIX/dosdevices/<letter>:) for the object's lifetime. Letters are claimed atomically,
// so test processes sharing the prefix never receive the same one. Throws std::runtime_error
// when no letter can be claimed.
class DriveLetterMapping {
 public:
  explicit DriveLetterMapping(std::wstring unix_folder);
  ~DriveLetterMapping();

  DriveLetterMapping(const DriveLetterMapping&) = delete;
  DriveLetterMapping& operator=(const DriveLetterMapping&) = delete;

  wchar_t Letter() const { return letter_; }
  // The drive root, for example "T:\".
  std::wstring Root() const { return {letter_, L':', L'\\'}; }
  // Makes the claimed letter report `type` from now on, by defining it anew through Wine's mount
  // manager (which the prefix's registry alone does not reach for a letter made while Wine runs).
  // Throws std::runtime_error when the mount manager refuses.
  void SetType(FixtureDriveType type);

 private:
  bool TryClaim(wchar_t letter, const std::wstring& link_path);
  void DefineThroughMountManager(unsigned drive_type, const std::wstring* unix_folder) const;

  std::wstring unix_folder_;
  std::wstring link_path_;
  wchar_t letter_ = L'\0';
  bool defined_through_mount_manager_ = false;
};

// A second letter for a folder of the test prefix itself (its drive C, its users folder), mapped
// once and kept for the rest of the test process. Wine names a file through any letter that
// reaches it and remembers the letters for a moment: a letter that named the prefix's folders and
// is then given to a fixture would send a later test's checks of the prefix's own files into that
// fixture. Kept letters are never reused while the process runs.
const DriveLetterMapping& LastingDriveLetterMapping(const std::wstring& unix_folder);

// A fresh, empty folder below $PELMORA_TEST_TMP with a drive letter of its own; the letter is
// released on destruction (the folder goes away with the test run's temporary folder). Paths
// given to the helpers are relative to the drive root and use backslashes ("a\b\c.txt"). Every
// helper throws std::runtime_error naming the failing call.
class FixtureDrive {
 public:
  FixtureDrive();

  wchar_t Letter() const { return mapping_.Letter(); }
  std::wstring Root() const { return mapping_.Root(); }
  // The Windows path of `relative` on the fixture drive ("T:\a\b").
  std::wstring PathOf(std::wstring_view relative) const;
  const std::wstring& UnixFolder() const { return unix_folder_; }
  void SetType(FixtureDriveType type) { mapping_.SetType(type); }

  void AddFolder(std::wstring_view relative) const;
  // A file of `size_bytes` bytes (sparse where the file system allows, so large sizes are cheap).
  void AddFile(std::wstring_view relative, uint64_t size_bytes = 0) const;
  // Sets the last-write time, in 100-nanosecond ticks since 1601-01-01 UTC, of a file or folder.
  void SetLastWriteTime(std::wstring_view relative, uint64_t file_time_ticks) const;
  // A Unix symbolic link at `link_relative` pointing to `target_relative`, which must exist. A
  // link to a folder is what Wine lists as a reparse point.
  void AddUnixSymlink(std::wstring_view link_relative, std::wstring_view target_relative) const;
  // The same for a target anywhere on the Unix side, given by its absolute Unix path.
  void AddUnixSymlinkTo(std::wstring_view link_relative, std::wstring_view unix_target) const;
  // The Unix path of `relative` on the fixture drive.
  std::wstring UnixPathOf(std::wstring_view relative) const;

 private:
  std::wstring unix_folder_;
  DriveLetterMapping mapping_;
};

}  // namespace pel_mora::test_support
