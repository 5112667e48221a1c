#include "plugin/operations.h"

#include "plugin/cleanup/category_cleanup.h"
#include "plugin/cleanup/category_scan.h"
#include "plugin/cleanup/cleanup_folders.h"

namespace pel_mora {

WorkerReply ScanCleanableCategoriesOperation(const std::string& drive_letter) {
  return flutter::EncodableValue(ScanCleanableCategories(ResolveCleanupFolders(drive_letter)));
}

WorkerReply PerformCleanupOperation(const std::vector<std::string>& categories, const std::string& drive_letter) {
  return flutter::EncodableValue(PerformCleanup(categories, ResolveCleanupFolders(drive_letter)));
}

}  // namespace pel_mora
