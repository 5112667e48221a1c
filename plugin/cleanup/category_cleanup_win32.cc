#include "plugin/cleanup/category_cleanup.h"

#include <cstdint>

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

  void VisitFile(const std::wstring& path, const WIN32_FIND_DATAW& entry) override {
    // DeleteFileW refuses a read-only file; hidden and system files need nothing.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (DeleteFileW(path.c_str())) {
      counters_.bytes += FoundFileSize(entry);
      ++counters_.items;
    } else {
      ++counters_.errors;
    }
  }

  // A subfolder that still holds something (a locked file, a link, content too deep) stays.
  void LeaveSubfolder(const std::wstring& path) override { RemoveDirectoryW(path.c_str()); }

 private:
  CategoryCounters& counters_;
};

CategoryCounters EmptyBin(const CleanupFolders& folders) {
  const std::wstring root = RecycleBinRoot(folders);
  // What the bin held just before emptying is what the empty frees.
  const EncodableMap before = QueryRecycleBin(root);
  CategoryCounters counters;
  if (EmptyRecycleBin(root)) {
    counters.bytes = static_cast<uint64_t>(RecycleBinTotal(before, "totalBytes"));
    counters.items = static_cast<uint64_t>(RecycleBinTotal(before, "itemCount"));
  } else {
    counters.errors = 1;
  }
  return counters;
}

CategoryCounters CleanFolders(const CatalogueRow& row, const CleanupFolders& folders,
                              const BeforeDescendHook& before_descend) {
  CategoryCounters counters;
  DeletingVisitor visitor(counters);
  for (const ContentItem& item : row.content) {
    WalkContentItem(ContentFolderPath(folders, item), item.recursion, item.suffix, visitor, before_descend);
  }
  return counters;
}

}  // namespace

EncodableMap PerformCleanup(const std::vector<std::string>& ids, const CleanupFolders& folders,
                            const BeforeDescendHook& before_descend) {
  const ListedFor drive_kind = folders.is_system_drive ? ListedFor::kSystemDrive : ListedFor::kOtherDrive;
  CategoryCounters totals;
  EncodableList breakdown;
  for (const std::string& id : ids) {
    std::string name;
    CategoryCounters counters;
    if (const CatalogueRow* row = FindCleanupCategory(id, drive_kind)) {
      name = row->name;
      counters = row->kind == CategoryKind::kRecycleBin ? EmptyBin(folders) : CleanFolders(*row, folders, before_descend);
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
