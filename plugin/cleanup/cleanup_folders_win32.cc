#include "plugin/cleanup/cleanup_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <array>
#include <cwctype>
#include <utility>
#include <vector>

#include "plugin/cleanup/content_folder_rules.h"
#include "plugin/cleanup/file_identity_win32.h"
#include "plugin/cleanup/known_folders_win32.h"
#include "plugin/cleanup/wine_trash_win32.h"
#include "plugin/wine_detection_win32.h"
#include "plugin/cleanup/temporary_folder_safety.h"

namespace pel_mora {
namespace {

constexpr DWORD kPathBufferLength = 260;

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
  // Not verified by the shell: the walks check the folder themselves, and Wine's check has been
  // seen to fail now and then for a folder that exists, which emptied every category below it.
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT,
                              buffer.data()))) {
    return {};
  }
  return buffer.data();
}

std::wstring EnvironmentValue(const wchar_t* name) {
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    return {};
  }
  buffer.resize(length);
  return buffer;
}

bool IsAbsoluteDriveOrSharePath(std::wstring_view path) {
  const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                     path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  const bool share = path.size() >= 3 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
  return drive || share;
}

// Whether the value GetTempPathW takes its folder from (the first of TMP, TEMP and USERPROFILE
// that is set) is a full path. GetTempPathW resolves a relative value against the current folder,
// which in the host is the program's own: emptying that would delete the program.
bool TemporaryVariableIsAbsolute() {
  for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
    const std::wstring value = EnvironmentValue(name);
    if (!value.empty()) {
      return IsAbsoluteDriveOrSharePath(value);
    }
  }
  // None set: GetTempPathW falls back to the Windows folder, which is a full path.
  return true;
}

std::wstring UserTemp() {
  if (!TemporaryVariableIsAbsolute()) {
    return {};
  }
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

// The folders a temporary folder must stay clear of, by identity, for the user's temporary
// folder or for the Windows one, which lies inside the Windows folder by design.
enum class TemporaryRow { kUser, kWindows };

std::vector<TemporaryFolderLimit> TemporaryFolderLimits(const CleanupFolders& folders, TemporaryRow row) {
  using enum TemporaryFolderLimitKind;
  const auto chain_of = [](const std::wstring& path) {
    if (path.empty()) {
      return IdentityChain();
    }
    return IdentityChainOfPath(path, LinkHandling::kFollow).value_or(IdentityChain());
  };
  std::vector<TemporaryFolderLimit> limits;
  TemporaryFolderLimit windows{chain_of(folders.windows_directory), kNeitherAboveNorInside};
  if (row == TemporaryRow::kWindows) {
    // The entry itself: a link put in its place is not the Windows folder's own Temp.
    windows.allowed_inside = IdentityOfPath(folders.windows_directory + L"\\Temp", LinkHandling::kOpenLinkItself);
  }
  limits.push_back(std::move(windows));
  for (REFKNOWNFOLDERID folder_id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramData,
                                     FOLDERID_Desktop, FOLDERID_Documents, FOLDERID_Downloads, FOLDERID_Music,
                                     FOLDERID_Pictures, FOLDERID_Videos}) {
    limits.push_back({chain_of(KnownFolder(folder_id)), kNeitherAboveNorInside});
  }
  for (REFKNOWNFOLDERID folder_id : {FOLDERID_Profile, FOLDERID_LocalAppData}) {
    limits.push_back({chain_of(KnownFolder(folder_id)), kNotAbove});
  }
  limits.push_back({chain_of(folders.local_app_data), kNotAbove});
  return limits;
}

// The canonical form of a temporary folder when it is safe to measure and empty, else empty. The
// text is judged first (roots, folders above the protected ones), then the folder itself, so a
// second drive letter, a short name or a link gives no way round. A folder that does not exist
// holds nothing to clean.
std::wstring SafeTemporaryFolder(const std::wstring& folder, const std::vector<std::wstring>& protected_folders,
                                 const std::vector<TemporaryFolderLimit>& limits, const CleanupPlaces& places) {
  std::wstring canonical = CanonicalFullPath(folder);
  while (canonical.size() > 3 && canonical.back() == L'\\') {
    canonical.pop_back();
  }
  if (!IsSafeTemporaryFolder(canonical, protected_folders)) {
    return {};
  }
  const std::optional<NamedIdentityChain> object = NamedIdentityChainOfPath(canonical, LinkHandling::kFollow);
  if (!object || !IsSafeTemporaryFolderObject(object->identities, limits) ||
      !MayWalkContentFolder(FolderBase::kUserTemp, Recursion::kRecursive, *object, places)) {
    return {};
  }
  return canonical;
}

std::optional<FileIdentity> IdentityOfFolder(const std::wstring& path) {
  if (path.empty()) {
    return std::nullopt;
  }
  return IdentityOfPath(path, LinkHandling::kFollow);
}

// A letter's root is a volume's root when the letter names a device, not a folder (subst makes a
// letter whose target is "\??\C:\folder"), and that device is a mounted volume. Wine makes every
// letter a volume of its own (and its mount manager does not even know a letter made while it
// runs), so there any letter whose root opens counts, and the rules on what the drive's folders
// lie in are what keep a letter that shows a folder of the user's data from being emptied.
bool IsVolumeRoot(wchar_t letter) {
  const std::wstring device = {letter, L':'};
  if (IsRunningUnderWine()) {
    return IdentityOfPath(device + L"\\", LinkHandling::kFollow).has_value();
  }
  std::wstring target(1024, L'\0');
  if (QueryDosDeviceW(device.c_str(), target.data(), static_cast<DWORD>(target.size())) == 0 ||
      target.compare(0, 8, L"\\Device\\") != 0) {
    return false;
  }
  const std::wstring root = device + L"\\";
  wchar_t volume_name[64] = {};
  return GetVolumeNameForVolumeMountPointW(root.c_str(), volume_name, 64) != 0;
}

CleanupPlaces ResolveCleanupPlaces(const CleanupFolders& folders) {
  CleanupPlaces places;
  places.local_app_data = IdentityOfFolder(folders.local_app_data);
  places.profile = IdentityOfFolder(KnownFolder(FOLDERID_Profile));
  places.windows_directory = IdentityOfFolder(folders.windows_directory);
  places.user_profiles = IdentityOfFolder(KnownFolder(FOLDERID_UserProfiles));
  std::vector<std::wstring> kept = {folders.windows_directory, folders.local_app_data};
  for (REFKNOWNFOLDERID folder_id :
       {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramData, FOLDERID_UserProfiles, FOLDERID_Public,
        FOLDERID_Profile, FOLDERID_LocalAppData, FOLDERID_RoamingAppData, FOLDERID_Desktop, FOLDERID_Documents,
        FOLDERID_Downloads, FOLDERID_Music, FOLDERID_Pictures, FOLDERID_Videos}) {
    kept.push_back(KnownFolder(folder_id));
  }
  for (const std::wstring& folder : kept) {
    if (folder.empty()) {
      continue;
    }
    if (std::optional<IdentityChain> chain = IdentityChainOfPath(folder, LinkHandling::kFollow)) {
      places.protected_folders.push_back(std::move(*chain));
    }
  }
  if (const std::optional<FileIdentity> trash = IdentityOfFolder(WineTrashFolder())) {
    places.recycle_bins.push_back(*trash);
  }
  // Each drive's own bin, by identity too: a letter that shows one names it by another name.
  DWORD previous_error_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_error_mode);
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    if (const std::optional<FileIdentity> bin = IdentityOfFolder(std::wstring{letter, L':', L'\\'} + L"$Recycle.Bin")) {
      places.recycle_bins.push_back(*bin);
    }
  }
  SetThreadErrorMode(previous_error_mode, nullptr);
  places.drive_root_is_volume_root = IsVolumeRoot(folders.drive_letter);
  return places;
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

  folders.places = ResolveCleanupPlaces(folders);

  const std::vector<std::wstring> protected_folders = ProtectedFolders(folders);
  folders.user_temp = SafeTemporaryFolder(UserTemp(), protected_folders,
                                          TemporaryFolderLimits(folders, TemporaryRow::kUser), folders.places);
  folders.windows_temp = SafeTemporaryFolder(folders.windows_directory + L"\\Temp", protected_folders,
                                             TemporaryFolderLimits(folders, TemporaryRow::kWindows), folders.places);
  return folders;
}

}  // namespace pel_mora
