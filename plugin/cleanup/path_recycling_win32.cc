#include "plugin/cleanup/path_recycling.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include <winternl.h>

#include <knownfolders.h>

#include "plugin/cleanup/file_identity_win32.h"
#include "plugin/cleanup/known_folders_win32.h"
#include "plugin/cleanup/protected_paths.h"
#include "plugin/cleanup/recycle_bin.h"
#include "plugin/cleanup/wine_trash_win32.h"
#include "plugin/file_handle.h"
#include "plugin/find_handle.h"
#include "plugin/operations.h"
#include "plugin/path_normalization.h"
#include "plugin/string_conversion.h"
#include "plugin/wine_detection_win32.h"

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

// The folder a recycled item lies in, and every folder above it, each held open without delete
// sharing from before the item is judged until after it has moved: no Windows program can rename
// or replace any of them (and so put a link on the path) in between. Items in the folder stay
// free to move.
class HeldFolderChain {
 public:
  // Opens `folder` and then every folder above where it really lies; false when any of them
  // cannot be held or is not the folder the chain names.
  bool Hold(const std::wstring& folder) {
    FileHandle parent(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent.IsValid()) {
      return false;
    }
    const std::optional<IdentityChain> chain = IdentityChainOfHandle(parent.Get());
    const std::optional<std::wstring> final_path = FinalPathOfHandle(parent.Get());
    if (!chain || !final_path) {
      return false;
    }
    parent_identity_ = chain->front();
    size_t index = 1;
    for (std::optional<std::wstring> above = ParentOfFinalPath(*final_path); above;
         above = ParentOfFinalPath(*above), ++index) {
      FileHandle held(CreateFileW(above->c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      const std::optional<FileIdentity> identity = held.IsValid() ? IdentityOfHandle(held.Get()) : std::nullopt;
      if (index >= chain->size() || !identity || *identity != (*chain)[index]) {
        return false;
      }
      above_.push_back(std::move(held));
    }
    parent_ = std::move(parent);
    return true;
  }

  HANDLE Parent() const { return parent_.Get(); }
  const FileIdentity& ParentIdentity() const { return parent_identity_; }

 private:
  FileHandle parent_;
  FileIdentity parent_identity_;
  std::vector<FileHandle> above_;
};

// NTSTATUS values of an open that found nothing there, or a name whose deletion is pending.
constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056L);

// Opens `name` in the held folder through its handle (not through a path another process could
// redirect), the entry itself rather than what a link points at. Returns the NTSTATUS.
NTSTATUS OpenInHeldFolder(HANDLE folder, std::wstring_view name, HANDLE& opened) {
  UNICODE_STRING unicode_name;
  unicode_name.Buffer = const_cast<wchar_t*>(name.data());
  unicode_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  unicode_name.MaximumLength = unicode_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status_block{};
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateFile(&handle, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status_block, nullptr,
                                       0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                       FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                                           FILE_SYNCHRONOUS_IO_NONALERT,
                                       nullptr, 0);
  opened = NT_SUCCESS(status) ? handle : INVALID_HANDLE_VALUE;
  return status;
}

// Whether the object judged has left the held folder: its name there is free or names another
// object now. Opened through the held folder, this sees the folder itself even where another
// process has meanwhile put a link in its place on the path.
bool HasLeftHeldFolder(HANDLE folder, std::wstring_view name, const FileIdentity& judged) {
  HANDLE opened = INVALID_HANDLE_VALUE;
  const NTSTATUS status = OpenInHeldFolder(folder, name, opened);
  if (status == kStatusObjectNameNotFound || status == kStatusDeletePending) {
    return true;
  }
  if (!NT_SUCCESS(status)) {
    return false;
  }
  const FileHandle still_there(opened);
  const std::optional<FileIdentity> identity = IdentityOfHandle(still_there.Get());
  return identity && *identity != judged;
}

bool IsNamedRecycleBin(std::wstring_view name) {
  constexpr std::wstring_view kBin = L"$RECYCLE.BIN";
  if (name.size() != kBin.size()) {
    return false;
  }
  for (size_t index = 0; index < name.size(); ++index) {
    const wchar_t unit = name[index];
    const wchar_t folded = (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
    if (folded != kBin[index]) {
      return false;
    }
  }
  return true;
}

// The entries of Wine's trash whose names begin with `name`: where a recycled item lands, under
// its own name or one made from it. Empty on Windows.
std::vector<std::wstring> TrashEntriesNamedLike(const std::wstring& name) {
  std::vector<std::wstring> entries;
  const std::wstring trash = WineTrashFolder();
  if (trash.empty()) {
    return entries;
  }
  WIN32_FIND_DATAW entry{};
  const FindHandle listing(FindFirstFileExW((trash + L"\\files\\" + name + L"*").c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0));
  if (!listing.IsValid()) {
    return entries;
  }
  do {
    entries.emplace_back(entry.cFileName);
  } while (FindNextFileW(listing.Get(), &entry));
  return entries;
}

// Whether the object judged arrived in the Recycle Bin. A shell that cannot recycle an item (too
// big for the bin, a folder on another file system than Wine's trash) deletes it for good and
// reports success all the same; that is no recycling, and no success.
bool ArrivedInRecycleBin(HANDLE item, const std::wstring& name, const std::vector<std::wstring>& trash_before) {
  if (WineTrashFolder().empty()) {
    // On Windows the open handle follows the object: its final path now lies in a drive's
    // "$Recycle.Bin".
    const std::optional<std::wstring> now = FinalPathOfHandle(item);
    for (std::optional<std::wstring> folder = now ? ParentOfFinalPath(*now) : std::nullopt; folder;
         folder = ParentOfFinalPath(*folder)) {
      if (IsNamedRecycleBin(LastNameOfPath(*folder))) {
        return true;
      }
    }
    return false;
  }
  // Wine's handle keeps the name it was opened by, and a file from another file system arrives as
  // a copy, so what counts is a new entry of that name in the trash since just before the move.
  for (const std::wstring& entry : TrashEntriesNamedLike(name)) {
    if (std::find(trash_before.begin(), trash_before.end(), entry) == trash_before.end()) {
      return true;
    }
  }
  return false;
}

// The size the file system reports for an open entry itself (a folder's own entry, not its
// contents).
std::optional<uint64_t> SizeOfOpenEntry(HANDLE entry) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(entry, &information)) {
    return std::nullopt;
  }
  return (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
}

// Recycles one resolved path: judged on the object found through the held folder chain, moved by
// the shell, counted only when that very object has left its folder.
enum class RecycleOutcome { kRecycled, kNotRecycled };

RecycleOutcome RecycleJudgedPath(const std::wstring& path, const ProtectedObjects& protected_objects,
                                 const RecycleHook& hook, uint64_t& freed_bytes) {
  const size_t last_separator = path.rfind(L'\\');
  if (last_separator == std::wstring::npos || last_separator + 1 == path.size()) {
    return RecycleOutcome::kNotRecycled;
  }
  // The parent keeps its separator, so "D:\" stays the root rather than the drive's current folder.
  const std::wstring parent = path.substr(0, last_separator + 1);
  const std::wstring name = path.substr(last_separator + 1);
  HeldFolderChain chain;
  if (!chain.Hold(parent)) {
    return RecycleOutcome::kNotRecycled;
  }
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (!NT_SUCCESS(OpenInHeldFolder(chain.Parent(), name, opened))) {
    return RecycleOutcome::kNotRecycled;
  }
  FileHandle item(opened);
  // The entry found in the held folder is the object judged: its own chain, its final path back
  // in the held folder under its own name (Wine opens a Unix link to a file as its target even
  // when asked for the entry itself, and the shell would move the target), and what the path
  // reaches through any link at its end.
  const std::optional<FileIdentity> judged = IdentityOfHandle(item.Get());
  const std::optional<IdentityChain> own = IdentityChainOfHandle(item.Get());
  const std::optional<std::wstring> final_path = FinalPathOfHandle(item.Get());
  const std::optional<std::wstring> final_parent = final_path ? ParentOfFinalPath(*final_path) : std::nullopt;
  const std::optional<FileIdentity> final_parent_identity =
      final_parent ? IdentityOfPath(*final_parent, LinkHandling::kFollow) : std::nullopt;
  if (!judged || !own || CheckRecyclableObject(*own, protected_objects) == RecycleVerdict::kRefused ||
      !final_path || !IsSameEntryName(LastNameOfPath(*final_path), name) || !final_parent_identity ||
      *final_parent_identity != chain.ParentIdentity() || !AllowedObject(path, protected_objects) ||
      !IsOnVolumeWithRecycleBin(path)) {
    return RecycleOutcome::kNotRecycled;
  }
  const std::optional<uint64_t> size = SizeOfOpenEntry(item.Get());
  // The shell takes a path. Right before it does, the path must still name the object judged;
  // the check after the move catches what a process outside Windows' sharing rules changes in
  // the moment between.
  const std::optional<FileIdentity> named_now = IdentityOfPath(path, LinkHandling::kOpenLinkItself);
  if (!named_now || *named_now != *judged) {
    return RecycleOutcome::kNotRecycled;
  }
  const std::vector<std::wstring> trash_before = TrashEntriesNamedLike(name);
  if (hook) {
    hook(path);
  }
  // Windows lets an item held with delete sharing move, and the handle then follows it into the
  // bin, which shows where it went. Wine's shell copies an item from another file system into its
  // trash and then deletes it, which a handle still open here would put off.
  if (IsRunningUnderWine()) {
    item = FileHandle();
  }
  // The shell's word is not enough: it reports success for names it did not move, and a path
  // redirected in the moment before the move moves another object while the judged one stays.
  if (!MoveToRecycleBin(path)) {
    return RecycleOutcome::kNotRecycled;
  }
  if (!HasLeftHeldFolder(chain.Parent(), name, *judged)) {
    // The judged object is still in its folder, yet the path names nothing now: the shell moved
    // whatever the path led to in that moment, which nobody asked for. It goes back where it
    // was, through the shell's own restore; failing that, the reply still counts no success.
    if (!IdentityOfPath(path, LinkHandling::kOpenLinkItself)) {
      RestoreRecycledItem(parent, name);
    }
    return RecycleOutcome::kNotRecycled;
  }
  if (!ArrivedInRecycleBin(item.Get(), name, trash_before)) {
    return RecycleOutcome::kNotRecycled;
  }
  freed_bytes += size.value_or(0);
  return RecycleOutcome::kRecycled;
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
  // The Recycle Bins: nothing in them is recycled again (that would orphan what records where it
  // came from), and under Wine, whose trash is an ordinary folder, neither the trash nor a folder
  // holding it may go: moving it into itself deletes every recycled item for good.
  for (int index = 0; index < 26; ++index) {
    AddProtectedLocation(std::wstring{static_cast<wchar_t>(L'A' + index), L':', L'\\'} + L"$Recycle.Bin", objects);
  }
  SetThreadErrorMode(previous_error_mode, nullptr);
  if (const std::wstring trash = WineTrashFolder(); !trash.empty()) {
    AddProtectedLocation(trash, objects);
  }
  // Wine's own folder for this prefix, which holds drive C and so the Windows folder: through the
  // drive of the Unix root it is an ordinary folder, above the root of drive C as Windows sees it.
  if (const std::wstring prefix = WinePrefixFolder(); !prefix.empty()) {
    if (const std::optional<IdentityChain> chain = IdentityChainOfPath(prefix, LinkHandling::kFollow)) {
      objects.holders.insert(objects.holders.end(), chain->begin(), chain->end());
    }
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

RecycleTally RecyclePaths(const std::vector<std::string>& paths, wchar_t windows_drive_letter,
                          const RecycleHook& hook) {
  const ProtectedObjects protected_objects = ResolveProtectedObjects(windows_drive_letter);
  RecycleTally tally;
  for (const std::string& requested : paths) {
    // The text as sent and made canonical is judged first, then the object found through the
    // held folders; an object that cannot be read cannot be judged, and is not offered to the
    // shell.
    const std::optional<std::wstring> path = ResolveRecyclablePath(Utf8ToWide(requested), windows_drive_letter);
    if (path && RecycleJudgedPath(*path, protected_objects, hook, tally.freed_bytes) == RecycleOutcome::kRecycled) {
      ++tally.success_count;
    } else {
      ++tally.failed_count;
    }
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
