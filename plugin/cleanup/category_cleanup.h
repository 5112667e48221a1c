#pragma once

#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "plugin/cleanup/cleanup_catalogue.h"
#include "plugin/cleanup/cleanup_traversal.h"

namespace pel_mora {

// Deletes the files of the categories `ids`, in request order (a repeated id is cleaned again;
// an unknown one reports an empty name and zeros), and returns "bytesCleaned", "itemsDeleted",
// "errorsCount" and the per-id "breakdown". Files are deleted, not recycled. For "recycle_bin"
// the figures are what left the bin: what it held before emptying minus what it holds after.
flutter::EncodableMap PerformCleanup(const std::vector<std::string>& ids, const CleanupFolders& folders,
                                     const WalkHook& hook = nullptr);

}  // namespace pel_mora
