#pragma once

// What the drive walk needs of a directory listing, free of any platform: the items of one
// folder, one at a time, already in the forms the scan's records use.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pel_mora {

enum class FolderItemKind {
  kFile,
  kFolder,
  // A symbolic link, junction or mount point: the walk neither follows, counts nor lists it.
  kLink,
};

// One item of a listing, without the "." and ".." items.
struct FolderItem {
  // The name as listed, kept for folders only: it builds the path the walk opens next. Files
  // leave it empty, since a listing read ahead holds many of them and their records need only
  // the UTF-8 name.
  std::wstring name;
  std::string name_utf8;
  // Files only: the lower-case text after the last dot (see FileExtension).
  std::string extension;
  FolderItemKind kind = FolderItemKind::kFile;
  uint64_t size_bytes = 0;
  // Seconds since 1970-01-01 UTC.
  int64_t modified_time = 0;
};

// The items of one open folder, in listing order.
class FolderEnumeration {
 public:
  virtual ~FolderEnumeration() = default;

  // Fills `item` with the next item and returns true, or returns false at the end of the folder.
  virtual bool Next(FolderItem& item) = 0;
};

// Opens a folder for listing: null when it cannot be listed (access denied, not there, not
// ready). An empty folder gives an enumeration without items. Called from several threads at
// once, so it keeps no state between calls.
using FolderLister = std::function<std::unique_ptr<FolderEnumeration>(const std::wstring& path)>;

}  // namespace pel_mora
