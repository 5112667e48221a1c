#pragma once

// What makes two names the same file or folder: the volume and the file's id on it. Paths can
// differ (another drive letter, a short name, a link on the way) while the object is the same, so
// every guard that protects files compares these rather than text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pel_mora {

struct FileIdentity {
  // The volume's serial number; 0 where the system gives no stable one (see IdentityOfHandle).
  uint64_t volume = 0;
  // The 128-bit file id; file systems with 64-bit ids leave the high half zero.
  uint64_t id_high = 0;
  uint64_t id_low = 0;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An object followed by the folders above it, nearest first, ending with its volume's root: the
// object itself is element 0. A chain of one element is a root.
using IdentityChain = std::vector<FileIdentity>;

// The folder above a final path as GetFinalPathNameByHandleW gives it ("\\?\C:\a\b" gives
// "\\?\C:\a"; "\\?\UNC\server\share\a" gives "\\?\UNC\server\share\";
// "\\?\Volume{...}\a" gives "\\?\Volume{...}\"). Nothing for a root or for text that is not a
// final path, so a caller never walks above a volume or guesses.
std::optional<std::wstring> ParentOfFinalPath(std::wstring_view final_path);

// The root of a final path ("\\?\C:\", "\\?\UNC\server\share\", "\\?\Volume{...}\"); nothing
// for text that is not a final path.
std::optional<std::wstring> RootOfFinalPath(std::wstring_view final_path);

// The last name of a path, final or not ("\\?\C:\a\b" and "D:\a\b" give "b"); empty when the
// path ends with a separator, as a root does.
std::wstring_view LastNameOfPath(std::wstring_view path);

// Whether two names of entries in one folder are the same name, with the letters A to Z equal in
// either case. Other letters must match exactly: a name that differs beyond that counts as
// another name, which makes a guard refuse rather than guess how a file system folds case.
bool IsSameEntryName(std::wstring_view first, std::wstring_view second);

}  // namespace pel_mora
