#include "plugin/cleanup/category_cleanup.h"

#include <cstdint>

#include "plugin/cleanup/content_folder_rules.h"
#include "plugin/cleanup/recycle_bin.h"
#include "plugin/cleanup/recycle_bin_totals.h"
#include "plugin/find_handle.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

struct CategoryCounters {
  uint64_t bytes = 0;
  uint64_t items = 0;
  uint64_t errors = 0;
};

class DeletingVisitor : public TraversalVisitor {
 public:
  explicit DeletingVisitor(CategoryCounters& counters) : counters_(counters) {}

  void VisitFile(const std::wstring& /*path*/, const WIN32_FIND_DATAW& entry, FileOutcome outcome) override {
    if (outcome == FileOutcome::kDeleted) {
      counters_.bytes += FoundFileSize(entry);
      ++counters_.items;
    } else {
      ++counters_.errors;
    }
  }

 private:
  CategoryCounters& counters_;
};

uint64_t Decrease(int64_t before, int64_t after) {
  return before > after ? static_cast<uint64_t>(before - after) : 0;
}

CategoryCounters EmptyBin(const CleanupFolders& folders) {
  if (!RecycleBinRowApplies(folders)) {
    return {};
  }
  const std::wstring root = RecycleBinRoot(folders);
  const EncodableMap before = QueryRecycleBin(root);
  CategoryCounters counters;
  if (!EmptyRecycleBin(root)) {
    counters.errors = 1;
  }
  // What the empty freed is what left the bin, not what it held: the shell can report success
  // and leave items behind (Wine keeps folders that still hold files).
  const EncodableMap after = QueryRecycleBin(root);
  counters.bytes = Decrease(RecycleBinTotal(before, "totalBytes"), RecycleBinTotal(after, "totalBytes"));
  counters.items = Decrease(RecycleBinTotal(before, "itemCount"), RecycleBinTotal(after, "itemCount"));
  return counters;
}

CategoryCounters CleanFolders(const CatalogueRow& row, const CleanupFolders& folders, const WalkHook& hook) {
  CategoryCounters counters;
  DeletingVisitor visitor(counters);
  for (const ContentItem& item : row.content) {
    const FolderJudge judge = [&](const NamedIdentityChain& held_folder) {
      return MayWalkContentFolder(item.base, item.recursion, held_folder, folders.places);
    };
    WalkContentItem(ContentFolderPath(folders, item), judge, item.recursion, item.suffix, WalkPurpose::kDelete,
                    visitor, hook);
  }
  return counters;
}

}  // namespace

EncodableMap PerformCleanup(const std::vector<std::string>& ids, const CleanupFolders& folders,
                            const WalkHook& hook) {
  const ListedFor drive_kind = folders.is_system_drive ? ListedFor::kSystemDrive : ListedFor::kOtherDrive;
  CategoryCounters totals;
  EncodableList breakdown;
  for (const std::string& id : ids) {
    std::string name;
    CategoryCounters counters;
    if (const CatalogueRow* row = FindCleanupCategory(id, drive_kind)) {
      name = row->name;
      counters = row->kind == CategoryKind::kRecycleBin ? EmptyBin(folders) : CleanFolders(*row, folders, hook);
    }
    totals.bytes += counters.bytes;
    totals.items += counters.items;
    totals.errors += counters.errors;
    breakdown.push_back(EncodableValue(EncodableMap{
        {EncodableValue("id"), EncodableValue(id)},
        {EncodableValue("name"), EncodableValue(name)},
        {EncodableValue("bytes"), EncodableValue(static_cast<int64_t>(counters.bytes))},
        {EncodableValue("itemCount"), EncodableValue(static_cast<int64_t>(counters.items))},
    }));
  }
  return EncodableMap{
      {EncodableValue("bytesCleaned"), EncodableValue(static_cast<int64_t>(totals.bytes))},
      {EncodableValue("itemsDeleted"), EncodableValue(static_cast<int64_t>(totals.items))},
      {EncodableValue("errorsCount"), EncodableValue(static_cast<int64_t>(totals.errors))},
      {EncodableValue("breakdown"), EncodableValue(std::move(breakdown))},
  };
}

}  // namespace pel_mora
