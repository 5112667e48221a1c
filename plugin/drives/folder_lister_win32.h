#pragma once

// Directory listing for the drive walk through NtQueryDirectoryFile.

#include <memory>
#include <string>

#include "plugin/drives/folder_listing.h"

namespace pel_mora {

// Lists `path` with NtQueryDirectoryFile at the directory information level, reading many items
// per call: null when the folder cannot be opened or its listing fails at once (access denied,
// not there, not ready). Gives the items FindFirstFileExW gives, at the basic information level
// (no short names), in the same order, with less work per item (measured by
// scripts/bench-scan.sh). A drive root without items lists as empty. Safe to call from several
// threads at once.
std::unique_ptr<FolderEnumeration> ListFolder(const std::wstring& path);

}  // namespace pel_mora
