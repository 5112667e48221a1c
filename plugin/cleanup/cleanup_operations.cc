#include "plugin/operations.h"

// Not built yet: these answer with the channel's not-implemented reply until this family's
// operations replace them.

namespace pel_mora {

WorkerReply ScanCleanableCategoriesOperation(const std::string& /*drive_letter*/) {
  return NotImplementedReply{};
}

WorkerReply PerformCleanupOperation(const std::vector<std::string>& /*categories*/,
                                    const std::string& /*drive_letter*/) {
  return NotImplementedReply{};
}

}  // namespace pel_mora
