#include "plugin/cleanup/cleanup_traversal.h"

#include "plugin/file_handle.h"
#include "plugin/find_handle.h"

namespace pel_mora {
namespace {

// Files in folders down to this many levels below a category folder are reached.
constexpr int kDepthLimit = 20;

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

// Opens the folder entry itself rather than what a link points at, with listing access and
// without FILE_SHARE_DELETE: while the handle is open nobody can rename, delete or replace the
// folder, so the path walked below stays the folder that was checked.
HANDLE OpenFolderItself(const std::wstring& folder) {
  return CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Whether the opened entry is a real folder and not a reparse point. Windows reports a link's
// own attributes through the handle. Wine follows a Unix link even with
// FILE_FLAG_OPEN_REPARSE_POINT and reports the target's, but GetFileAttributesW of the path
// without a trailing separator still shows the link; the path is checked after the open, when it
// can no longer be swapped.
bool IsPlainFolder(const FileHandle& handle, const std::wstring& folder) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle.Get(), &information) ||
      !IsPlainFolderAttributes(information.dwFileAttributes)) {
    return false;
  }
  std::wstring own_entry = folder;
  // "D:\" keeps its separator: without it, "D:" would name the drive's current folder.
  if (own_entry.size() > 3 && own_entry.back() == L'\\') {
    own_entry.pop_back();
  }
  return IsPlainFolderAttributes(GetFileAttributesW(own_entry.c_str()));
}

enum class FolderOutcome { kEntered, kSkipped };

FolderOutcome WalkFolder(const std::wstring& folder, Recursion recursion, std::wstring_view suffix, int depth,
                         TraversalVisitor& visitor, const BeforeDescendHook& before_descend) {
  if (folder.empty() || depth > kDepthLimit) {
    return FolderOutcome::kSkipped;
  }
  const FileHandle held_open(OpenFolderItself(folder));
  if (!held_open.IsValid() || !IsPlainFolder(held_open, folder)) {
    return FolderOutcome::kSkipped;
  }
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = JoinPath(folder, L"*");
  const FindHandle listing(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return FolderOutcome::kEntered;
  }
  do {
    if (IsDotOrDotDot(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    const std::wstring path = JoinPath(folder, entry.cFileName);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (recursion == Recursion::kRecursive) {
        if (before_descend) {
          before_descend(path);
        }
        // A subfolder that turned out to be a link, or lies too deep, is left to itself.
        if (WalkFolder(path, recursion, suffix, depth + 1, visitor, before_descend) == FolderOutcome::kEntered) {
          visitor.LeaveSubfolder(path);
        }
      }
      continue;
    }
    if (NameMatchesSuffix(entry.cFileName, suffix)) {
      visitor.VisitFile(path, entry);
    }
  } while (FindNextFileW(listing.Get(), &entry));
  return FolderOutcome::kEntered;
}

}  // namespace

void WalkContentItem(const std::wstring& folder, Recursion recursion, std::wstring_view suffix,
                     TraversalVisitor& visitor, const BeforeDescendHook& before_descend) {
  WalkFolder(folder, recursion, suffix, 0, visitor, before_descend);
}

}  // namespace pel_mora
