#include "plugin/cleanup/category_scan.h"

#include <cstdint>
#include <string>

#include "plugin/cleanup/content_folder_rules.h"
#include "plugin/cleanup/recycle_bin.h"
#include "plugin/cleanup/recycle_bin_totals.h"
#include "plugin/find_handle.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

class MeasuringVisitor : public TraversalVisitor {
 public:
  void VisitFile(const std::wstring& /*path*/, const WIN32_FIND_DATAW& entry, FileOutcome /*outcome*/) override {
    total_bytes_ += FoundFileSize(entry);
    ++item_count_;
  }

  uint64_t total_bytes() const { return total_bytes_; }
  uint64_t item_count() const { return item_count_; }

 private:
  uint64_t total_bytes_ = 0;
  uint64_t item_count_ = 0;
};

EncodableValue Record(const CatalogueRow& row, int64_t total_bytes, int64_t item_count) {
  return EncodableValue(EncodableMap{
      {EncodableValue("id"), EncodableValue(std::string(row.id))},
      {EncodableValue("name"), EncodableValue(std::string(row.name))},
      {EncodableValue("description"), EncodableValue(std::string(row.description))},
      {EncodableValue("group"), EncodableValue(std::string(row.group))},
      {EncodableValue("isSafe"), EncodableValue(true)},
      {EncodableValue("totalBytes"), EncodableValue(total_bytes)},
      {EncodableValue("itemCount"), EncodableValue(item_count)},
  });
}

}  // namespace

EncodableList ScanCleanableCategories(const CleanupFolders& folders, const WalkHook& hook) {
  const ListedFor drive_kind = folders.is_system_drive ? ListedFor::kSystemDrive : ListedFor::kOtherDrive;
  EncodableList records;
  for (const CatalogueRow& row : CleanupCatalogue()) {
    if (row.listed_for != drive_kind) {
      continue;
    }
    if (row.kind == CategoryKind::kRecycleBin) {
      const EncodableMap bin = RecycleBinRowApplies(folders) ? QueryRecycleBin(RecycleBinRoot(folders)) : EncodableMap();
      records.push_back(Record(row, RecycleBinTotal(bin, "totalBytes"), RecycleBinTotal(bin, "itemCount")));
      continue;
    }
    MeasuringVisitor visitor;
    for (const ContentItem& item : row.content) {
      const FolderJudge judge = [&](const NamedIdentityChain& held_folder) {
      return MayWalkContentFolder(item.base, item.recursion, held_folder, folders.places);
    };
    WalkContentItem(ContentFolderPath(folders, item), judge, item.recursion, item.suffix, WalkPurpose::kMeasure,
                    visitor, hook);
    }
    records.push_back(
        Record(row, static_cast<int64_t>(visitor.total_bytes()), static_cast<int64_t>(visitor.item_count())));
  }
  return records;
}

}  // namespace pel_mora
