#include "plugin/operations.h"

// Not built yet: these answer with the channel's not-implemented reply until this family's
// operations replace them.

namespace pel_mora {

WorkerReply GetSystemMetricsOperation() {
  return NotImplementedReply{};
}

}  // namespace pel_mora
