#pragma once

// Directory listing for the drive walk through the Win32 find calls.

#include <memory>
#include <string>

#include "plugin/drives/folder_listing.h"

namespace pel_mora {

// Lists `path` with FindFirstFileExW (basic information level, large fetch): null when the
// folder cannot be listed. A drive root without items lists as empty: it has no "." entry, so
// its listing finds nothing rather than failing. Safe to call from several threads at once.
std::unique_ptr<FolderEnumeration> ListFolderWithFindFile(const std::wstring& path);

}  // namespace pel_mora
