#include "plugin/cleanup/cleanup_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <array>
#include <cwctype>
#include <vector>

#include "plugin/cleanup/temporary_folder_safety.h"

namespace pel_mora {
namespace {

constexpr DWORD kPathBufferLength = 260;

// Owns a string the shell allocated with CoTaskMemAlloc.
class TaskMemoryString {
 public:
  TaskMemoryString() = default;
  ~TaskMemoryString() { CoTaskMemFree(text_); }
  TaskMemoryString(const TaskMemoryString&) = delete;
  TaskMemoryString& operator=(const TaskMemoryString&) = delete;

  PWSTR* Receive() { return &text_; }
  std::wstring Value() const { return text_ == nullptr ? std::wstring() : std::wstring(text_); }

 private:
  PWSTR text_ = nullptr;
};

std::wstring KnownFolder(REFKNOWNFOLDERID folder_id) {
  TaskMemoryString path;
  // SHGetKnownFolderPath allocates the result even when it fails, so it is always handed to the
  // owner above.
  if (FAILED(SHGetKnownFolderPath(folder_id, 0, nullptr, path.Receive()))) {
    return {};
  }
  return path.Value();
}

// GetFullPathNameW resolves ".", "..", a relative path (against the current folder), trailing
// dots and runs of separators, without touching the file system. Empty when it fails.
std::wstring CanonicalFullPath(const std::wstring& path) {
  if (path.empty()) {
    return {};
  }
  std::wstring buffer(kPathBufferLength, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) {
      return {};
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    // Too small: `length` is the size needed, terminator included.
    buffer.assign(length, L'\0');
  }
  return {};
}

std::wstring WindowsDirectory() {
  std::array<wchar_t, kPathBufferLength> buffer{};
  GetWindowsDirectoryW(buffer.data(), kPathBufferLength);
  if (buffer[0] == L'\0') {
    return L"C:\\Windows";
  }
  return buffer.data();
}

std::wstring LocalAppData() {
  std::array<wchar_t, MAX_PATH> buffer{};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer.data()))) {
    return {};
  }
  return buffer.data();
}

std::wstring UserTemp() {
  std::array<wchar_t, kPathBufferLength> buffer{};
  const DWORD length = GetTempPathW(kPathBufferLength, buffer.data());
  if (length == 0 || length >= kPathBufferLength) {
    return {};
  }
  std::wstring path(buffer.data(), length);
  if (!path.empty() && path.back() == L'\\') {
    path.pop_back();
  }
  return path;
}

// The folders a temporary folder must never contain: emptying it would empty them too.
std::vector<std::wstring> ProtectedFolders(const CleanupFolders& folders) {
  std::vector<std::wstring> protected_folders = {
      CanonicalFullPath(folders.windows_directory),
      CanonicalFullPath(folders.local_app_data),
  };
  for (REFKNOWNFOLDERID folder_id : {FOLDERID_Profile, FOLDERID_LocalAppData, FOLDERID_Desktop, FOLDERID_Documents,
                                     FOLDERID_Downloads, FOLDERID_Music, FOLDERID_Pictures, FOLDERID_Videos}) {
    protected_folders.push_back(CanonicalFullPath(KnownFolder(folder_id)));
  }
  return protected_folders;
}

// The canonical form of a temporary folder when it is safe to measure and empty, else empty.
std::wstring SafeTemporaryFolder(const std::wstring& folder, const std::vector<std::wstring>& protected_folders) {
  std::wstring canonical = CanonicalFullPath(folder);
  while (canonical.size() > 3 && canonical.back() == L'\\') {
    canonical.pop_back();
  }
  if (!IsSafeTemporaryFolder(canonical, protected_folders)) {
    return {};
  }
  return canonical;
}

}  // namespace

CleanupFolders ResolveCleanupFolders(const std::string& drive_letter_argument) {
  CleanupFolders folders;
  folders.windows_directory = WindowsDirectory();
  folders.system_letter = folders.windows_directory[0];
  if (drive_letter_argument.empty()) {
    folders.drive_letter = folders.system_letter;
    folders.is_system_drive = true;
  } else {
    // The byte is read as a signed character, so anything above 127 stays out of A to Z.
    const auto first_byte = static_cast<signed char>(drive_letter_argument[0]);
    folders.drive_letter = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(static_cast<wchar_t>(first_byte))));
    folders.is_system_drive = folders.drive_letter == folders.system_letter;
  }
  folders.drive_root = {folders.drive_letter, L':', L'\\'};
  folders.local_app_data = LocalAppData();

  const std::vector<std::wstring> protected_folders = ProtectedFolders(folders);
  folders.user_temp = SafeTemporaryFolder(UserTemp(), protected_folders);
  folders.windows_temp = SafeTemporaryFolder(folders.windows_directory + L"\\Temp", protected_folders);
  return folders;
}

}  // namespace pel_mora
