#include "plugin/installed_apps/uninstall_entry_rules.h"

namespace pel_mora {

bool IsListedUninstallEntry(const UninstallEntryMarks& marks) {
  using Kind = RegistryValueReading::Kind;
  if (marks.system_component.kind == Kind::kDword && marks.system_component.number == 1) {
    return false;
  }
  if (marks.parent_key_name.kind == Kind::kDword && marks.parent_key_name.number != 0) {
    return false;
  }
  if (marks.parent_key_name.kind == Kind::kString && !marks.parent_key_name.text.empty()) {
    return false;
  }
  return !marks.display_name.empty() && !marks.uninstall_string.empty();
}

int64_t EstimatedSizeBytes(const RegistryValueReading& estimated_size) {
  if (estimated_size.kind != RegistryValueReading::Kind::kDword) {
    return 0;
  }
  return static_cast<int64_t>(estimated_size.number) * 1024;
}

}  // namespace pel_mora
