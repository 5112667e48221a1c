#pragma once

// Moving paths named by the interface to the Recycle Bin, one shell operation per path, behind
// the guard for drive roots and the operating system's own locations.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/cleanup/protected_paths.h"

namespace pel_mora {

// What one request did: paths moved to the Recycle Bin, paths refused or not moved, and the sum
// of the sizes the file system reported for the moved paths themselves (a folder's own entry,
// not its contents).
struct RecycleTally {
  uint64_t success_count = 0;
  uint64_t failed_count = 0;
  uint64_t freed_bytes = 0;
};

// The drive letter of the Windows directory (GetWindowsDirectoryW), upper case; 'C' when the
// directory is not on a lettered drive or cannot be read.
wchar_t WindowsDriveLetter();

// The one name a requested path is judged and recycled by, or nothing when it must be refused.
// The request is tidied, checked as sent (roots, a bare "C:", system locations, wildcards, NULs,
// streams, device forms that lead nowhere), then made canonical with GetFullPathNameW ("." and
// "..", trailing dots and spaces, relative parts) and, where the path exists, given its long
// names with GetLongPathNameW (so "C:\SYSTEM~1" is seen as "C:\System Volume Information"); the
// guard runs again on that result. An extended-length path ("\\?\...") whose name would change
// in that process is refused, because for it the dots and spaces are part of the name and the
// shell, which cannot take that form, would be handed a different file.
std::optional<std::wstring> ResolveRecyclablePath(std::wstring_view requested_path, wchar_t windows_drive_letter);

// The objects recycling leaves in place, for Windows on `windows_drive_letter`: the system
// locations on C and on that drive, the folders holding them, every local drive's root, and the
// program, program-data, user-profiles and profile folders themselves.
ProtectedObjects ResolveProtectedObjects(wchar_t windows_drive_letter);

// The identity of the name itself when recycling the (already resolved) `path` is allowed by
// identity: what the path reaches and the path's own entry (a link is judged by both), each with
// every folder above it where it really lies. Nothing when either is refused or cannot be read.
std::optional<FileIdentity> AllowedObject(const std::wstring& path, const ProtectedObjects& protected_objects);

// Recycles each path of `paths` (UTF-8, in order) with its own shell operation, so one failure
// does not touch the others, and counts the outcome. Each path is judged by its text and then by
// the object it reaches and its own entry (see ResolveProtectedObjects); a name whose own entry
// opens as a file elsewhere (another name for it, such as a link Wine follows) is refused, since
// the shell would move what it points to; a path on a volume without a Recycle Bin is refused rather than deleted for good; and a path counts as recycled
// only when the shell reports success and the object is gone from that path.
RecycleTally RecyclePaths(const std::vector<std::string>& paths, wchar_t windows_drive_letter);

}  // namespace pel_mora
