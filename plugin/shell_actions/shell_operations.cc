#include "plugin/operations.h"

// Not built yet: these answer with the channel's not-implemented reply until this family's
// operations replace them.

namespace pel_mora {

WorkerReply OpenInExplorerOperation(const std::wstring& /*path*/) {
  return NotImplementedReply{};
}

WorkerReply OpenFileOperation(const std::wstring& /*path*/) {
  return NotImplementedReply{};
}

WorkerReply PickFolderOperation() {
  return NotImplementedReply{};
}

}  // namespace pel_mora
