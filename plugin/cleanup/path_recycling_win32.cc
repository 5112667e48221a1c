#include "plugin/cleanup/path_recycling.h"

#include <windows.h>
#include <shellapi.h>

#include <cwctype>

#include <knownfolders.h>

#include "plugin/cleanup/file_identity_win32.h"
#include "plugin/cleanup/known_folders_win32.h"
#include "plugin/cleanup/protected_paths.h"
#include "plugin/cleanup/wine_trash_win32.h"
#include "plugin/file_handle.h"
#include "plugin/operations.h"
#include "plugin/path_normalization.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// Calls a Win32 function of the "fill this buffer, or tell me the size you need" kind (with the
// size in characters including the terminating NUL on a short buffer, and the written length
// without it on success) until the buffer fits. Nothing when the call fails.
template <typename Call>
std::optional<std::wstring> CallWithGrowingBuffer(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    // The path grew between the calls or the buffer was short: try again with the asked size.
    buffer.assign(length, L'\0');
  }
  return std::nullopt;
}

std::optional<std::wstring> FullPathName(const std::wstring& path) {
  return CallWithGrowingBuffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

std::optional<std::wstring> LongPathName(const std::wstring& path) {
  return CallWithGrowingBuffer(
      [&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(path.c_str(), buffer, size); });
}

bool IsRecyclable(std::wstring_view path, wchar_t windows_drive_letter) {
  return CheckRecyclablePath(path, windows_drive_letter) == RecycleVerdict::kAllowed;
}

// The size the file system reports for the path itself; nothing when its attributes cannot be
// read.
std::optional<uint64_t> SizeOfEntry(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One shell delete-to-Recycle-Bin operation for one already judged path: no dialog, no
// confirmation, no error box.
bool MoveToRecycleBin(const std::wstring& path) {
  // The shell takes a list of names, each ended by a NUL, the list ended by a second NUL.
  std::wstring name_list(path.size() + 2, L'\0');
  name_list.replace(0, path.size(), path);
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = name_list.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
  return SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

// The drive-letter form of a final path's root ("\\?\C:\" gives "C:\"), which GetDriveTypeW
// takes; other roots stay as they are.
std::wstring DriveTypeRoot(const std::wstring& root) {
  if (root.size() == 7 && root.compare(0, 4, L"\\\\?\\") == 0 && root[5] == L':') {
    return root.substr(4);
  }
  return root;
}

// Whether a volume root has a Recycle Bin. Recycling on a network share, an optical disc, a RAM
// disk or a removable drive deletes for good (or fails) instead, so only fixed drives qualify.
bool RootHasRecycleBin(const std::wstring& root) {
  return GetDriveTypeW(DriveTypeRoot(root).c_str()) == DRIVE_FIXED;
}

// Whether both the volume the path names and the volume where the object really lies (which a
// link or a mapped letter may make another one) have a Recycle Bin.
bool IsOnVolumeWithRecycleBin(const std::wstring& path) {
  std::wstring named_root(path.size() + 2, L'\0');
  if (!GetVolumePathNameW(path.c_str(), named_root.data(), static_cast<DWORD>(named_root.size()))) {
    return false;
  }
  named_root.resize(wcslen(named_root.c_str()));
  if (!RootHasRecycleBin(named_root)) {
    return false;
  }
  const FileHandle object(OpenForIdentity(path, LinkHandling::kFollow));
  if (!object.IsValid()) {
    return false;
  }
  const std::optional<std::wstring> final_path = FinalPathOfHandle(object.Get());
  const std::optional<std::wstring> final_root = final_path ? RootOfFinalPath(*final_path) : std::nullopt;
  return final_root && RootHasRecycleBin(*final_root);
}

// Whether opening the (resolved) path's own entry reaches that entry: the final path of the handle
// lies in the same folder object as the path's parent, under the same name. Wine opens a Unix link
// to a file as its target even when asked for the entry itself, so the handle's final path names
// the target elsewhere, and the shell would move the target and leave the link: deleting a name
// must never take what it points to. On Windows such a handle names the link itself and passes.
// A second drive letter or a link above the entry leads to the same parent folder, so only the
// folder's identity is compared, and the name only up to the case of A to Z.
bool OpensItsOwnEntry(const std::wstring& path) {
  const size_t last_separator = path.rfind(L'\\');
  if (last_separator == std::wstring::npos || last_separator + 1 == path.size()) {
    return false;
  }
  // The parent keeps its separator, so "D:\" stays the root rather than the drive's current folder.
  const std::wstring parent = path.substr(0, last_separator + 1);
  const FileHandle own_entry(OpenForIdentity(path, LinkHandling::kOpenLinkItself));
  if (!own_entry.IsValid()) {
    return false;
  }
  const std::optional<std::wstring> final_path = FinalPathOfHandle(own_entry.Get());
  const std::optional<std::wstring> final_parent = final_path ? ParentOfFinalPath(*final_path) : std::nullopt;
  if (!final_parent || !IsSameEntryName(LastNameOfPath(path), LastNameOfPath(*final_path))) {
    return false;
  }
  const std::optional<FileIdentity> parent_identity = IdentityOfPath(parent, LinkHandling::kFollow);
  const std::optional<FileIdentity> final_parent_identity = IdentityOfPath(*final_parent, LinkHandling::kFollow);
  return parent_identity && final_parent_identity && *parent_identity == *final_parent_identity;
}

// Adds what `path` reaches, when it exists: the object to `objects`, the folders above it to
// `holders`.
void AddProtectedLocation(const std::wstring& path, ProtectedObjects& objects) {
  const std::optional<IdentityChain> chain = IdentityChainOfPath(path, LinkHandling::kFollow);
  if (!chain) {
    return;
  }
  objects.system_locations.push_back(chain->front());
  objects.holders.insert(objects.holders.end(), chain->begin() + 1, chain->end());
}

}  // namespace

std::optional<FileIdentity> AllowedObject(const std::wstring& path, const ProtectedObjects& protected_objects) {
  const std::optional<IdentityChain> reached = IdentityChainOfPath(path, LinkHandling::kFollow);
  const std::optional<IdentityChain> own = IdentityChainOfPath(path, LinkHandling::kOpenLinkItself);
  if (!reached || !own || CheckRecyclableObject(*reached, protected_objects) == RecycleVerdict::kRefused ||
      CheckRecyclableObject(*own, protected_objects) == RecycleVerdict::kRefused) {
    return std::nullopt;
  }
  return own->front();
}

namespace {

// Whether `object` still lies at `path` after the shell reported it moved.
bool IsStillInPlace(const std::wstring& path, const FileIdentity& object) {
  const std::optional<FileIdentity> now = IdentityOfPath(path, LinkHandling::kOpenLinkItself);
  return now && *now == object;
}

}  // namespace

wchar_t WindowsDriveLetter() {
  wchar_t directory[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(directory, MAX_PATH + 1);
  if (length < 2 || length > MAX_PATH || directory[1] != L':') return L'C';
  const wchar_t letter = directory[0];
  if (letter >= L'a' && letter <= L'z') return static_cast<wchar_t>(letter - L'a' + L'A');
  if (letter >= L'A' && letter <= L'Z') return letter;
  return L'C';
}

ProtectedObjects ResolveProtectedObjects(wchar_t windows_drive_letter) {
  ProtectedObjects objects;
  const wchar_t windows_drive = static_cast<wchar_t>(std::towupper(windows_drive_letter));
  std::wstring letters = L"C";
  if (windows_drive != L'C') letters.push_back(windows_drive);
  for (const wchar_t letter : letters) {
    for (const std::wstring_view location : SystemLocations()) {
      AddProtectedLocation(std::wstring{letter, L':'} + std::wstring(location), objects);
    }
  }
  wchar_t windows_directory[MAX_PATH + 1] = {};
  if (GetWindowsDirectoryW(windows_directory, MAX_PATH + 1) != 0) {
    if (const std::optional<IdentityChain> chain = IdentityChainOfPath(windows_directory, LinkHandling::kFollow)) {
      objects.holders.insert(objects.holders.end(), chain->begin(), chain->end());
    }
  }
  // The root of every drive, whatever letter reaches it and whatever its type: a whole drive is
  // never one item to recycle. Every letter is tried rather than asking GetLogicalDrives or the
  // drive's type: under Wine GetLogicalDrives keeps the letters a process saw first, and a letter
  // just mapped can report no type for a while; a root must not slip through for that. A letter
  // that leads nowhere simply fails to open; an empty removable drive must fail quietly rather
  // than ask the user to insert a disk.
  DWORD previous_error_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_error_mode);
  for (int index = 0; index < 26; ++index) {
    const std::wstring root = {static_cast<wchar_t>(L'A' + index), L':', L'\\'};
    if (const std::optional<FileIdentity> identity = IdentityOfPath(root, LinkHandling::kFollow)) {
      objects.holders.push_back(*identity);
    }
  }
  // The Recycle Bins: nothing in them is recycled again, and under Wine, whose trash is an
  // ordinary folder, neither the trash nor a folder holding it may go: the shell would delete
  // every recycled item for good rather than move the trash into itself.
  for (int index = 0; index < 26; ++index) {
    AddProtectedLocation(std::wstring{static_cast<wchar_t>(L'A' + index), L':', L'\\'} + L"$Recycle.Bin", objects);
  }
  SetThreadErrorMode(previous_error_mode, nullptr);
  if (const std::wstring trash = WineTrashFolder(); !trash.empty()) {
    AddProtectedLocation(trash, objects);
  }
  for (REFKNOWNFOLDERID folder_id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramData,
                                     FOLDERID_UserProfiles, FOLDERID_Profile}) {
    const std::wstring folder = KnownFolder(folder_id);
    if (folder.empty()) {
      continue;
    }
    if (const std::optional<FileIdentity> identity = IdentityOfPath(folder, LinkHandling::kFollow)) {
      objects.kept_folders.push_back(*identity);
      if (IsEqualGUID(folder_id, FOLDERID_UserProfiles)) {
        objects.user_profiles = *identity;
      }
    }
  }
  return objects;
}

std::optional<std::wstring> ResolveRecyclablePath(std::wstring_view requested_path, wchar_t windows_drive_letter) {
  const std::wstring normalized = NormalizePath(requested_path);
  if (normalized.empty()) return std::nullopt;
  // As sent first: a bare "C:" or "C:." would otherwise become the current folder of drive C.
  if (CheckRecyclableRequest(normalized) == RecycleVerdict::kRefused ||
      !IsRecyclable(normalized, windows_drive_letter)) {
    return std::nullopt;
  }
  const std::wstring plain = WithoutDevicePrefix(normalized);
  std::optional<std::wstring> full = FullPathName(plain);
  if (!full) return std::nullopt;
  if (IsLiteralPathForm(normalized) && *full != plain) return std::nullopt;
  if (!IsRecyclable(*full, windows_drive_letter)) return std::nullopt;
  // Short names only resolve where the path exists; a path that does not exist stays as it is
  // and the shell fails on it.
  std::wstring resolved = *full;
  if (std::optional<std::wstring> long_name = LongPathName(*full)) {
    if (!IsRecyclable(*long_name, windows_drive_letter)) return std::nullopt;
    resolved = *long_name;
  }
  // "D:\folder\" names the folder, but the shell's operation moves nothing for it and still
  // reports success; without the separator it moves the folder.
  while (resolved.size() > 3 && resolved.back() == L'\\') resolved.pop_back();
  return resolved;
}

RecycleTally RecyclePaths(const std::vector<std::string>& paths, wchar_t windows_drive_letter) {
  const ProtectedObjects protected_objects = ResolveProtectedObjects(windows_drive_letter);
  RecycleTally tally;
  for (const std::string& requested : paths) {
    const std::optional<std::wstring> path = ResolveRecyclablePath(Utf8ToWide(requested), windows_drive_letter);
    // The text as sent and made canonical is judged first, then the object it reaches and
    // whether the name opens its own entry; an object that cannot be read cannot be judged, and
    // is not offered to the shell.
    const std::optional<FileIdentity> object = path ? AllowedObject(*path, protected_objects) : std::nullopt;
    if (!object || !OpensItsOwnEntry(*path) || !IsOnVolumeWithRecycleBin(*path)) {
      ++tally.failed_count;
      continue;
    }
    // Measured before the move.
    const std::optional<uint64_t> size = SizeOfEntry(*path);
    // The shell's word is not enough: it reports success for names it did not move.
    if (!MoveToRecycleBin(*path) || IsStillInPlace(*path, *object)) {
      ++tally.failed_count;
      continue;
    }
    ++tally.success_count;
    tally.freed_bytes += size.value_or(0);
  }
  return tally;
}

WorkerReply RecyclePathsOperation(const std::vector<std::string>& paths) {
  const RecycleTally tally = RecyclePaths(paths, WindowsDriveLetter());
  return flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("successCount"), flutter::EncodableValue(static_cast<int64_t>(tally.success_count))},
      {flutter::EncodableValue("failedCount"), flutter::EncodableValue(static_cast<int64_t>(tally.failed_count))},
      {flutter::EncodableValue("freedBytes"), flutter::EncodableValue(static_cast<int64_t>(tally.freed_bytes))},
  });
}

}  // namespace pel_mora
