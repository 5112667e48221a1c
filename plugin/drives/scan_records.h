#pragma once

// The records of the streaming drive scan: the entries it reports for files and folders, and
// the events that carry them. Free of Win32 so the rules can be read and changed in one place.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/encodable_value.h"

namespace pel_mora {

// The lower-case text after the last dot of a file name, without the dot, in UTF-8. Empty when
// the name has no dot, when its only dot is its first character (".profile"), or when it ends in
// a dot. Characters are lowered one by one with towlower.
std::string FileExtension(std::wstring_view name);

// The part of `path` after its last backslash; the whole path when it has none, and empty for a
// drive root such as "C:\".
std::wstring_view LastPathComponent(std::wstring_view path);

flutter::EncodableValue MakeFileEntry(std::string path, std::string name, uint64_t size_bytes,
                                      int64_t modified_time, std::string extension);
// `size_bytes` is the sum of the sizes of the files counted below the folder.
flutter::EncodableValue MakeFolderEntry(std::string path, std::string name, uint64_t size_bytes,
                                        int64_t modified_time);
// A folder that could not be listed: size 0, no time and no extension.
flutter::EncodableValue MakeInaccessibleFolderEntry(std::string path, std::string name);

// Builds file entries from the entries of batches already sent, refilled in place. A drive holds
// millions of files, and building each entry afresh (a map of seven nodes and a path string)
// and freeing it after its batch costs more than listing the file did; refilled entries reuse
// their nodes and, mostly, their strings' storage. Used by one scan thread.
class FileEntryPool {
 public:
  // Keeps the file entries of a sent batch for reuse and leaves `entries` empty, with its
  // storage, for the next batch.
  void Recycle(flutter::EncodableList& entries);

  // A file entry with path `path_prefix` + `name`; the same record MakeFileEntry builds.
  flutter::EncodableValue MakeFileEntry(std::string_view path_prefix, std::string_view name, uint64_t size_bytes,
                                        int64_t modified_time, std::string_view extension);

 private:
  std::vector<flutter::EncodableValue> spares_;
};

// The counters of a scan at one moment.
struct ScanTotals {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
};

flutter::EncodableValue MakeStartedEvent(std::string root);
flutter::EncodableValue MakeBatchEvent(flutter::EncodableList entries, const ScanTotals& totals);
flutter::EncodableValue MakeCompletedEvent(const ScanTotals& totals, int64_t duration_ms);
flutter::EncodableValue MakeCancelledEvent();

}  // namespace pel_mora
