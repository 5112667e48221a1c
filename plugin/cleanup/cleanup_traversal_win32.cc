#include "plugin/cleanup/cleanup_traversal.h"

#include <winternl.h>

#include <optional>
#include <vector>

#include "plugin/cleanup/file_identity_win32.h"
#include "plugin/file_handle.h"
#include "plugin/directory_query_win32.h"
#include "plugin/find_handle.h"

namespace pel_mora {
namespace {

// Files in folders down to this many levels below a category folder are reached.
constexpr int kDepthLimit = 20;
// Below the limit only empty folders are removed; this bounds that descent (and the stack) in a
// folder chain someone made absurdly deep.
constexpr int kEmptyFolderDepthLimit = 255;

// NTSTATUS values of an open that found nothing, or found a file whose deletion is pending.
constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056L);

// FileDispositionInfoEx and its flags, which headers for older systems leave out.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool IsPlainFolderAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
  std::wstring path = folder;
  if (path.empty() || path.back() != L'\\') {
    path.push_back(L'\\');
  }
  path.append(name);
  return path;
}

// What to open an entry as.
enum class EntryKind { kFile, kFolder };

// Opens `name` in the folder `folder` holds, through that handle rather than through a path, and
// the entry itself rather than what a link points at. A folder is opened without
// FILE_SHARE_DELETE, so nobody can rename, delete or replace it through Windows while it is
// walked. Returns the NTSTATUS of the open; `opened` is set on success.
NTSTATUS OpenEntryRelative(HANDLE folder, std::wstring_view name, EntryKind kind, ACCESS_MASK access,
                           HANDLE& opened) {
  UNICODE_STRING unicode_name;
  unicode_name.Buffer = const_cast<wchar_t*>(name.data());
  unicode_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  unicode_name.MaximumLength = unicode_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status_block{};
  const ULONG share = kind == EntryKind::kFolder ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                                 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const ULONG options = (kind == EntryKind::kFolder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE) |
                        FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status_block, nullptr, 0, share,
                                       FILE_OPEN, options, nullptr, 0);
  opened = NT_SUCCESS(status) ? handle : INVALID_HANDLE_VALUE;
  return status;
}

// Whether an opened entry really lies in the held folder: the folder of its final path is the
// same object. A link that the system followed on opening (Wine follows a Unix link to a file
// even when asked for the entry itself) lies elsewhere, and so does anything reached after the
// held folder's name was made to point somewhere else.
bool LiesDirectlyIn(HANDLE entry, const FileIdentity& folder, std::wstring_view listed_name) {
  const std::optional<std::wstring> final_path = FinalPathOfHandle(entry);
  // The same folder is not enough: a link to a sibling (a.tmp leading to keep.dat beside it) would
  // hand over a file that the listing never named.
  if (!final_path || !IsSameEntryName(LastNameOfPath(*final_path), listed_name)) {
    return false;
  }
  const std::optional<std::wstring> parent = ParentOfFinalPath(*final_path);
  if (!parent) {
    return false;
  }
  const std::optional<FileIdentity> parent_identity = IdentityOfPath(*parent, LinkHandling::kFollow);
  return parent_identity && *parent_identity == folder;
}

// Every entry of a held folder, read through its handle. Listing by the folder's path would list
// whatever the path leads to by then: a folder another process swapped for a link to the
// user's documents would hand the walk the documents' names. Nothing when the listing fails.
std::optional<std::vector<WIN32_FIND_DATAW>> ListHeldFolder(HANDLE held) {
  const NtQueryDirectoryFileFunction query = QueryDirectoryFunction();
  if (query == nullptr) {
    return std::nullopt;
  }
  std::vector<WIN32_FIND_DATAW> entries;
  std::vector<uint64_t> buffer((size_t{64} << 10) / sizeof(uint64_t));
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK status_block{};
    const NTSTATUS status = query(held, nullptr, nullptr, nullptr, &status_block, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(uint64_t)), kDirectoryInformationClass,
                                  FALSE, nullptr, restart);
    if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) {
      return entries;
    }
    if (!NT_SUCCESS(status)) {
      return std::nullopt;
    }
    size_t offset = 0;
    for (;;) {
      const auto* found =
          reinterpret_cast<const DirectoryInformation*>(reinterpret_cast<const char*>(buffer.data()) + offset);
      const size_t name_length = found->file_name_length / sizeof(WCHAR);
      // A name longer than a find record holds cannot be handed on whole; such a file is left
      // alone rather than reached by a shortened name.
      if (name_length < MAX_PATH) {
        WIN32_FIND_DATAW entry{};
        entry.dwFileAttributes = found->file_attributes;
        entry.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(found->end_of_file.QuadPart) >> 32);
        entry.nFileSizeLow = static_cast<DWORD>(static_cast<uint64_t>(found->end_of_file.QuadPart));
        entry.ftLastWriteTime.dwLowDateTime = static_cast<DWORD>(found->last_write_time.QuadPart);
        entry.ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(found->last_write_time.QuadPart) >> 32);
        std::copy_n(found->file_name, name_length, entry.cFileName);
        entries.push_back(entry);
      }
      if (found->next_entry_offset == 0) {
        break;
      }
      offset += found->next_entry_offset;
    }
  }
}

DWORD AttributesOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return information.dwFileAttributes;
}

// Marks an open file or folder for deletion through its handle. POSIX semantics take the name
// away at once where the system offers them; otherwise the read-only attribute, which blocks a
// deletion, is cleared through the same handle first and the object goes when the handle closes.
bool MarkForDeletion(HANDLE handle, EntryKind kind) {
  FILE_DISPOSITION_INFO_EX extended{};
  extended.Flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &extended, sizeof(extended))) {
    return true;
  }
  const DWORD attributes = AttributesOfHandle(handle);
  if (kind == EntryKind::kFile && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    FILE_BASIC_INFO basic{};  // Zero times mean "leave unchanged".
    basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) {
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

// Whether the object `deleted` is gone from `name` in the held folder: the name is free, its
// deletion is pending until another program closes it, or it now names another object.
bool IsGoneFrom(HANDLE folder, std::wstring_view name, const FileIdentity& deleted) {
  HANDLE opened = INVALID_HANDLE_VALUE;
  const NTSTATUS status = OpenEntryRelative(folder, name, EntryKind::kFile, FILE_READ_ATTRIBUTES, opened);
  if (status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound || status == kStatusDeletePending) {
    return true;
  }
  if (!NT_SUCCESS(status)) {
    return false;
  }
  const FileHandle still_there(opened);
  const std::optional<FileIdentity> identity = IdentityOfHandle(still_there.Get());
  return identity && *identity != deleted;
}

class FolderWalk {
 public:
  FolderWalk(const FolderJudge& judge, Recursion recursion, std::wstring_view suffix, WalkPurpose purpose,
             TraversalVisitor& visitor, const WalkHook& hook)
      : judge_(judge), recursion_(recursion), suffix_(suffix), purpose_(purpose), visitor_(visitor), hook_(hook) {}

  // The category folder, opened by its path: it has no held folder above it to open it through.
  void WalkRoot(const std::wstring& folder) {
    if (folder.empty()) {
      return;
    }
    const FileHandle held(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held.IsValid() || !IsPlainFolderAttributes(AttributesOfHandle(held.Get()))) {
      return;
    }
    // Windows reports a link's own attributes through the handle. Wine follows a Unix link even
    // with FILE_FLAG_OPEN_REPARSE_POINT and reports the target's, but GetFileAttributesW of the
    // path without a trailing separator still shows the link; the path is checked after the
    // open, when it can no longer be swapped through Windows.
    std::wstring own_entry = folder;
    // "D:\" keeps its separator: without it, "D:" would name the drive's current folder.
    if (own_entry.size() > 3 && own_entry.back() == L'\\') {
      own_entry.pop_back();
    }
    if (!IsPlainFolderAttributes(GetFileAttributesW(own_entry.c_str()))) {
      return;
    }
    // Judged as it is held: the folder can no longer be renamed or replaced through Windows, and
    // everything below is reached through this handle.
    const std::optional<NamedIdentityChain> held_chain = NamedIdentityChainOfHandle(held.Get());
    if (!held_chain || !judge_ || !judge_(*held_chain)) {
      return;
    }
    WalkHeld(folder, held.Get(), 0);
  }

 private:
  // Lists a held folder and handles each entry through it.
  void WalkHeld(const std::wstring& folder, HANDLE held, int depth) {
    const std::optional<FileIdentity> held_identity = IdentityOfHandle(held);
    if (!held_identity) {
      return;
    }
    if (hook_) {
      hook_(WalkMoment::kFolderHeld, folder);
    }
    const std::optional<std::vector<WIN32_FIND_DATAW>> entries = ListHeldFolder(held);
    if (!entries) {
      return;
    }
    if (hook_) {
      hook_(WalkMoment::kFolderListed, folder);
    }
    for (const WIN32_FIND_DATAW& entry : *entries) {
      if (IsDotOrDotDot(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        continue;
      }
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (recursion_ == Recursion::kRecursive) {
          WalkSubfolder(folder, held, *held_identity, entry.cFileName, depth + 1);
        }
        continue;
      }
      // Below the depth limit no file is touched; only emptied folders go.
      if (depth <= kDepthLimit && NameMatchesSuffix(entry.cFileName, suffix_)) {
        HandleFile(folder, held, *held_identity, entry);
      }
    }
  }

  void WalkSubfolder(const std::wstring& parent, HANDLE parent_handle, const FileIdentity& parent_identity,
                     std::wstring_view name, int depth) {
    // A measurement counts files only, so it has nothing to do below the limit; a clean-up goes
    // on to remove the folders it can, those that are empty.
    if (depth > kDepthLimit && (purpose_ == WalkPurpose::kMeasure || depth > kEmptyFolderDepthLimit)) {
      return;
    }
    const std::wstring path = JoinPath(parent, name);
    if (hook_) {
      hook_(WalkMoment::kBeforeDescending, path);
    }
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (!NT_SUCCESS(OpenEntryRelative(parent_handle, name, EntryKind::kFolder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      opened))) {
      return;
    }
    std::optional<FileIdentity> walked;
    {
      const FileHandle held(opened);
      if (!IsPlainFolderAttributes(AttributesOfHandle(held.Get())) || !LiesDirectlyIn(held.Get(), parent_identity, name)) {
        return;
      }
      walked = IdentityOfHandle(held.Get());
      WalkHeld(path, held.Get(), depth);
    }
    if (purpose_ == WalkPurpose::kDelete && walked) {
      RemoveEmptySubfolder(parent_handle, parent_identity, name, *walked);
    }
  }

  // Removes a walked subfolder once it is empty, through a handle opened anew in the held parent
  // and checked to be the same folder (Wine does not let a folder held without delete sharing
  // be examined by path, so the walk holds it without the right to delete it). A subfolder that
  // still holds something (a locked file, a link, content too deep) stays.
  static void RemoveEmptySubfolder(HANDLE parent_handle, const FileIdentity& parent_identity, std::wstring_view name,
                                   const FileIdentity& walked) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (!NT_SUCCESS(OpenEntryRelative(parent_handle, name, EntryKind::kFolder, DELETE | FILE_READ_ATTRIBUTES, opened))) {
      return;
    }
    const FileHandle folder(opened);
    const std::optional<FileIdentity> identity = IdentityOfHandle(folder.Get());
    if (identity && *identity == walked && IsPlainFolderAttributes(AttributesOfHandle(folder.Get())) &&
        LiesDirectlyIn(folder.Get(), parent_identity, name)) {
      MarkForDeletion(folder.Get(), EntryKind::kFolder);
    }
  }

  void HandleFile(const std::wstring& folder, HANDLE held, const FileIdentity& held_identity,
                  const WIN32_FIND_DATAW& entry) {
    const std::wstring path = JoinPath(folder, entry.cFileName);
    const ACCESS_MASK access = purpose_ == WalkPurpose::kDelete
                                   ? DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES
                                   : FILE_READ_ATTRIBUTES;
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS open_status = OpenEntryRelative(held, entry.cFileName, EntryKind::kFile, access, opened);
    if (!NT_SUCCESS(open_status)) {
      // Gone since the listing (another clean-up of the same folder took it): neither freed by
      // this walk nor an error.
      if (open_status == kStatusObjectNameNotFound || open_status == kStatusObjectPathNotFound ||
          open_status == kStatusDeletePending) {
        return;
      }
      // In use without delete sharing, or access denied: a file that stays. A file that cannot
      // even be read cannot be checked, and is not counted.
      if (purpose_ == WalkPurpose::kDelete) {
        visitor_.VisitFile(path, entry, FileOutcome::kNotDeleted);
      }
      return;
    }
    std::optional<FileHandle> file(std::in_place, opened);
    const DWORD attributes = AttributesOfHandle(file->Get());
    // Another name for something elsewhere (or no longer a plain file): left alone, not counted.
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !LiesDirectlyIn(file->Get(), held_identity, entry.cFileName)) {
      return;
    }
    if (purpose_ == WalkPurpose::kMeasure) {
      visitor_.VisitFile(path, entry, FileOutcome::kFound);
      return;
    }
    const std::optional<FileIdentity> identity = IdentityOfHandle(file->Get());
    const bool marked = identity && MarkForDeletion(file->Get(), EntryKind::kFile);
    // Closing the handle completes the deletion; only then can it be checked.
    file.reset();
    const bool gone = identity && IsGoneFrom(held, entry.cFileName, *identity);
    if (!marked && gone) {
      // Another clean-up of the same folder deleted it between this walk's open and its own
      // deletion: neither freed by this walk nor an error.
      return;
    }
    visitor_.VisitFile(path, entry, marked && gone ? FileOutcome::kDeleted : FileOutcome::kNotDeleted);
  }

  const FolderJudge& judge_;
  Recursion recursion_;
  std::wstring_view suffix_;
  WalkPurpose purpose_;
  TraversalVisitor& visitor_;
  const WalkHook& hook_;
};

}  // namespace

void WalkContentItem(const std::wstring& folder, const FolderJudge& judge, Recursion recursion,
                     std::wstring_view suffix, WalkPurpose purpose, TraversalVisitor& visitor, const WalkHook& hook) {
  FolderWalk(judge, recursion, suffix, purpose, visitor, hook).WalkRoot(folder);
}

}  // namespace pel_mora
