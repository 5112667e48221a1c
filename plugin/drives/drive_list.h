#pragma once

// The drive list of "getDrives": one record per drive letter, in letter order.

#include "channel/encodable_value.h"
#include "plugin/drives/volume_queries.h"

namespace pel_mora {

// One record per drive letter the system reports, 'A' first; letters whose root does not exist
// (drive type 1) are left out. Keeps no state, so several workers may call it at once.
flutter::EncodableList GetDrives();
flutter::EncodableList GetDrives(const VolumeQueries& queries);

// The record of the drive `letter` ('A' to 'Z'): "driveLetter", "driveType", "isReady",
// "volumeName", "fileSystem", "totalBytes", "freeBytes", "usedBytes". A query that fails leaves
// its defaults (false, empty strings, zero sizes) in place; it is never an error.
flutter::EncodableMap GetDriveInfo(wchar_t letter);
flutter::EncodableMap GetDriveInfo(wchar_t letter, const VolumeQueries& queries);

}  // namespace pel_mora
