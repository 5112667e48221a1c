#pragma once

// Whether a temporary folder may be measured and emptied. The user's temporary folder comes from
// the TMP and TEMP variables, which can name anything: a TMP of "C:\" or of the profile folder
// must not turn a clean-up of temporary files into the deletion of every file below it.

#include <span>
#include <string>
#include <string_view>

namespace pel_mora {

// `canonical_folder` and every entry of `protected_folders` are full paths as GetFullPathNameW
// gives them (no "." or ".." left; a "\\?\" or "\\?\UNC\" prefix is allowed). The folder is safe
// only when it names something below a drive root or a share ("D:\x", "\\server\share\x") and is
// neither equal to nor an ancestor of any protected folder. A component that is empty or ends in a
// dot or a space (".", "..", "x.") is refused: only an unresolved "\\?\" path keeps one.
// Comparisons fold only A to Z, and trailing separators do not count. Empty protected entries are
// ignored; an empty folder is not safe.
bool IsSafeTemporaryFolder(std::wstring_view canonical_folder, std::span<const std::wstring> protected_folders);

}  // namespace pel_mora
