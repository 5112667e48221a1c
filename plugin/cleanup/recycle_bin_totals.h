#pragma once

#include <cstdint>
#include <string>

#include "channel/encodable_value.h"
#include "plugin/cleanup/cleanup_catalogue.h"

namespace pel_mora {

// The Recycle Bin a category of `folders` stands for: every drive's (an empty root) on the
// system drive, the drive's own otherwise.
inline std::wstring RecycleBinRoot(const CleanupFolders& folders) {
  return folders.is_system_drive ? std::wstring() : folders.drive_root;
}

// Whether the Recycle Bin row of `folders` has a bin to act on: the system drive's row stands for
// every drive's, another drive's row only for a letter that is a volume's root (the bin of a
// letter that shows a folder would be the bin of the volume holding that folder).
inline bool RecycleBinRowApplies(const CleanupFolders& folders) {
  return folders.is_system_drive || folders.places.drive_root_is_volume_root;
}

// "totalBytes" or "itemCount" of a Recycle Bin query; 0 where the key or a number is missing.
inline int64_t RecycleBinTotal(const flutter::EncodableMap& totals, const char* key) {
  const auto found = totals.find(flutter::EncodableValue(key));
  if (found == totals.end()) {
    return 0;
  }
  if (const auto* value = std::get_if<int64_t>(&found->second)) {
    return *value;
  }
  if (const auto* value = std::get_if<int32_t>(&found->second)) {
    return *value;
  }
  return 0;
}

}  // namespace pel_mora
