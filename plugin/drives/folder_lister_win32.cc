#include "plugin/drives/folder_lister_win32.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "plugin/directory_query_win32.h"
#include "plugin/drives/scan_records.h"
#include "plugin/file_handle.h"
#include "plugin/file_time.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// Items per call: a buffer of 64 KiB holds a few hundred. It is held for as long as the folder is
// open, and a walk can hold an open folder at each of its levels.
constexpr size_t kBufferBytes = size_t{64} << 10;

// Each item is converted here, on the thread that lists, so a listing read ahead is ready for
// the walk to report.
void Describe(const DirectoryInformation& found, std::wstring_view name, FolderItem& item) {
  if ((found.file_attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    item.kind = FolderItemKind::kLink;
    item.name.clear();
    item.name_utf8.clear();
    item.extension.clear();
    item.size_bytes = 0;
    item.modified_time = 0;
    return;
  }
  WideToUtf8(name, item.name_utf8);
  item.modified_time = FileTimeToUnixSeconds(static_cast<uint64_t>(found.last_write_time.QuadPart));
  if ((found.file_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    item.kind = FolderItemKind::kFolder;
    item.name.assign(name);
    item.extension.clear();
    item.size_bytes = 0;
  } else {
    item.kind = FolderItemKind::kFile;
    item.name.clear();
    item.extension = FileExtension(name);
    item.size_bytes = static_cast<uint64_t>(found.end_of_file.QuadPart);
  }
}

class DirectoryEnumeration : public FolderEnumeration {
 public:
  DirectoryEnumeration(HANDLE folder, NtQueryDirectoryFileFunction query)
      : folder_(folder), query_(query), buffer_(kBufferBytes / sizeof(uint64_t)) {}

  // Reads the first buffer: false when the listing fails outright.
  bool Start() { return Fill(TRUE) || status_ == kStatusNoMoreFiles || status_ == kStatusNoSuchFile; }

  bool Next(FolderItem& item) override {
    for (;;) {
      if (!has_item_) {
        if (!more_ || !Fill(FALSE)) {
          return false;
        }
      }
      const auto* found = reinterpret_cast<const DirectoryInformation*>(
          reinterpret_cast<const char*>(buffer_.data()) + offset_);
      if (found->next_entry_offset == 0) {
        has_item_ = false;
      } else {
        offset_ += found->next_entry_offset;
      }
      const std::wstring_view name(found->file_name, found->file_name_length / sizeof(WCHAR));
      if (name == L"." || name == L"..") {
        continue;
      }
      Describe(*found, name, item);
      return true;
    }
  }

 private:
  // Reads the next items into the buffer; false at the end of the folder or on an error, which
  // ends the listing as a failing FindNextFileW does.
  bool Fill(BOOLEAN restart) {
    IO_STATUS_BLOCK io_status{};
    status_ = query_(folder_.Get(), nullptr, nullptr, nullptr, &io_status, buffer_.data(),
                     static_cast<ULONG>(buffer_.size() * sizeof(uint64_t)), kDirectoryInformationClass, FALSE, nullptr,
                     restart);
    more_ = status_ >= 0 && status_ != kStatusNoMoreFiles && io_status.Information != 0;
    has_item_ = more_;
    offset_ = 0;
    return more_;
  }

  FileHandle folder_;
  const NtQueryDirectoryFileFunction query_;
  // Eight-byte units, so the items' 64-bit fields are aligned.
  std::vector<uint64_t> buffer_;
  NTSTATUS status_ = 0;
  size_t offset_ = 0;
  bool has_item_ = false;
  bool more_ = false;
};

}  // namespace

std::unique_ptr<FolderEnumeration> ListFolder(const std::wstring& path) {
  const NtQueryDirectoryFileFunction query = QueryDirectoryFunction();
  if (query == nullptr) {
    return nullptr;
  }
  // Backup semantics is what lets CreateFileW open a folder; every sharing mode is granted so the
  // walk never stands in the way of a program changing the folder.
  const HANDLE folder = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  auto enumeration = std::make_unique<DirectoryEnumeration>(folder, query);
  if (!enumeration->Start()) {
    return nullptr;
  }
  return enumeration;
}

}  // namespace pel_mora
