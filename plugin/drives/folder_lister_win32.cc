#include "plugin/drives/folder_lister_win32.h"

#include <windows.h>

#include <utility>

#include "plugin/drives/scan_records.h"
#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// Each item is converted here, on the thread that lists, so a listing read ahead is ready for
// the walk to report.
void Describe(const WIN32_FIND_DATAW& found, FolderItem& item) {
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    item.kind = FolderItemKind::kLink;
    item.name.clear();
    item.name_utf8.clear();
    item.extension.clear();
    return;
  }
  const std::wstring_view name(found.cFileName);
  WideToUtf8(name, item.name_utf8);
  item.modified_time = LastWriteUnixSeconds(found);
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    item.kind = FolderItemKind::kFolder;
    item.name.assign(name);
    item.extension.clear();
    item.size_bytes = 0;
  } else {
    item.kind = FolderItemKind::kFile;
    item.name.clear();
    item.extension = FileExtension(name);
    item.size_bytes = FoundFileSize(found);
  }
}

class FindFileEnumeration : public FolderEnumeration {
 public:
  // `listing` is invalid for a folder without items; `first` holds the first item otherwise.
  FindFileEnumeration(FindHandle listing, const WIN32_FIND_DATAW& first)
      : listing_(std::move(listing)), found_(first), has_found_(listing_.IsValid()) {}

  bool Next(FolderItem& item) override {
    while (has_found_) {
      const bool wanted = !IsDotOrDotDot(found_.cFileName);
      if (wanted) {
        Describe(found_, item);
      }
      has_found_ = FindNextFileW(listing_.Get(), &found_) != 0;
      if (wanted) {
        return true;
      }
    }
    return false;
  }

 private:
  FindHandle listing_;
  WIN32_FIND_DATAW found_;
  bool has_found_;
};

}  // namespace

std::unique_ptr<FolderEnumeration> ListFolderWithFindFile(const std::wstring& path) {
  std::wstring pattern = path;
  if (pattern.empty() || pattern.back() != L'\\') {
    pattern += L'\\';
  }
  pattern += L'*';
  WIN32_FIND_DATAW first{};
  // The basic information level skips the short 8.3 names, and the large fetch asks for bigger
  // directory reads per call; neither changes what is listed.
  const HANDLE handle = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &first, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH);
  const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  FindHandle listing(handle);
  // A folder that is not there fails with ERROR_PATH_NOT_FOUND; ERROR_FILE_NOT_FOUND means the
  // folder is there and holds nothing.
  if (!listing.IsValid() && error != ERROR_FILE_NOT_FOUND) {
    return nullptr;
  }
  return std::make_unique<FindFileEnumeration>(std::move(listing), first);
}

}  // namespace pel_mora
