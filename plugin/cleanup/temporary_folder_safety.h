#pragma once

// Whether a temporary folder may be measured and emptied. The user's temporary folder comes from
// the TMP and TEMP variables, which can name anything: a TMP of "C:\" or of the profile folder
// must not turn a clean-up of temporary files into the deletion of every file below it.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "plugin/cleanup/file_identity.h"

namespace pel_mora {

// `canonical_folder` and every entry of `protected_folders` are full paths as GetFullPathNameW
// gives them (no "." or ".." left; a "\\?\" or "\\?\UNC\" prefix is allowed). The folder is safe
// only when it names something below a drive root or a share ("D:\x", "\\server\share\x") and is
// neither equal to nor an ancestor of any protected folder. A component that is empty or ends in a
// dot or a space (".", "..", "x.") is refused: only an unresolved "\\?\" path keeps one.
// Comparisons fold only A to Z, and trailing separators do not count. Empty protected entries are
// ignored; an empty folder is not safe.
bool IsSafeTemporaryFolder(std::wstring_view canonical_folder, std::span<const std::wstring> protected_folders);

// How a temporary folder must stand to one of the folders it must never empty.
enum class TemporaryFolderLimitKind {
  // Neither the folder itself, nor above it, nor inside it: the Windows folder, the program and
  // program-data folders, the user's own folders.
  kNeitherAboveNorInside,
  // Not the folder itself nor above it; inside is fine: the profile and the local application
  // data folder, which hold the usual temporary folder.
  kNotAbove,
};

struct TemporaryFolderLimit {
  IdentityChain folder;  // Empty when the folder does not exist; it then limits nothing.
  TemporaryFolderLimitKind kind;
  // The one folder that may lie inside all the same: the Windows folder's own Temp, for the row
  // that cleans it.
  std::optional<FileIdentity> allowed_inside = std::nullopt;
};

// The same rule by identity, so that another drive letter, a short name or a link gives no way
// round it: `folder` is the temporary folder as it really lies (links resolved) and the folders
// above it. A root is never safe.
bool IsSafeTemporaryFolderObject(const IdentityChain& folder, std::span<const TemporaryFolderLimit> limits);

}  // namespace pel_mora
