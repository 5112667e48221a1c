#pragma once

#include "channel/encodable_value.h"
#include "plugin/cleanup/cleanup_catalogue.h"
#include "plugin/cleanup/cleanup_traversal.h"

namespace pel_mora {

// Measures every category listed for the drive kind of `folders`, in catalogue order, and
// returns one record per category ("id", "name", "description", "group", "isSafe",
// "totalBytes", "itemCount").
flutter::EncodableList ScanCleanableCategories(const CleanupFolders& folders,
                                               const WalkHook& hook = nullptr);

}  // namespace pel_mora
