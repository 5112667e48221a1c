#pragma once

// Canaries in the test prefix's own system folders: files and folders that a guard must keep, so
// that a test fails by losing one when the guard is missing. They live in the test run's Wine
// prefix, never on the real system, and are removed when the test ends.

#include <functional>
#include <string>

namespace pel_mora::test_support {

// The Unix folder behind the test prefix's drive C.
std::wstring PrefixDriveCUnixFolder();

// Polls `condition` (every few milliseconds, for up to 20 seconds) until it holds; whether it did.
bool PollUntil(const std::function<bool()>& condition);

class SystemCanary {
 public:
  enum class Kind { kFile, kFolderWithFile };

  // Creates a uniquely named canary of `kind` in `windows_folder` (a folder of the prefix's
  // drive C, such as "C:\windows\system32"). Throws std::runtime_error when it cannot.
  SystemCanary(const std::wstring& windows_folder, Kind kind);
  ~SystemCanary();
  SystemCanary(const SystemCanary&) = delete;
  SystemCanary& operator=(const SystemCanary&) = delete;

  // "C:\windows\system32\pelmora-canary-..."; its name alone; its Unix path.
  const std::wstring& Path() const { return path_; }
  const std::wstring& Name() const { return name_; }
  std::wstring UnixPath() const;
  // Whether the canary (and for a folder, the file inside it) is still there.
  bool Intact() const;

 private:
  std::wstring windows_folder_;
  std::wstring name_;
  std::wstring path_;
  Kind kind_;
};

}  // namespace pel_mora::test_support
