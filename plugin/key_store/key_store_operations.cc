#include "plugin/operations.h"

// Not built yet: these answer with the channel's not-implemented reply until this family's
// operations replace them.

namespace pel_mora {

WorkerReply SecureWriteOperation(const std::string& /*key*/, const std::string& /*value*/) {
  return NotImplementedReply{};
}

WorkerReply SecureReadOperation(const std::string& /*key*/) {
  return NotImplementedReply{};
}

WorkerReply SecureDeleteOperation(const std::string& /*key*/) {
  return NotImplementedReply{};
}

}  // namespace pel_mora
