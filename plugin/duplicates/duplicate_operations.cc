#include "plugin/duplicates/duplicate_finder.h"
#include "plugin/operations.h"

namespace pel_mora {

WorkerReply StartDuplicateScanOperation(const std::wstring& root_path) {
  return flutter::EncodableValue(FindDuplicates(root_path));
}

}  // namespace pel_mora
