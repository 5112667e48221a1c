#include "plugin/drives/drive_scanner.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "plugin/find_handle.h"
#include "plugin/drives/scan_records.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableValue;

// The root has depth 0; folders down to this depth are opened, and a folder one level deeper is
// listed by its parent but not opened.
constexpr int kMaximumDepth = 64;
// A batch is sent at this many entries; its storage is reserved a little larger, once per batch.
constexpr size_t kBatchSize = 1000;
constexpr size_t kBatchCapacity = 1064;

}  // namespace

class DriveScanner::Scan {
 public:
  Scan(const ScanEventCallback* callback, FolderOpenHook folder_open_hook)
      : callback_(callback), folder_open_hook_(std::move(folder_open_hook)) {}

  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  void RequestCancel() { cancel_requested_.store(true, std::memory_order_release); }

  // Cuts the scan off from the scanner's callback and asks it to stop. An event being delivered
  // when this is called finishes first; once this returns the scan delivers nothing more.
  void Detach() {
    RequestCancel();
    std::lock_guard lock(delivery_mutex_);
    callback_ = nullptr;
  }

  // The body of the scan thread. The thread is where exceptions stop: one escaping here would
  // end the process.
  void Run(const std::wstring& root) noexcept {
    try {
      RunScan(root);
    } catch (...) {
      // Out of memory while building entries, or a callback that threw. End the stream the way
      // a stopped scan does, so the interface does not wait for an end that never comes.
      if (!final_event_sent_) {
        try {
          Send(MakeCancelledEvent());
        } catch (...) {
        }
      }
    }
  }

 private:
  using Batch = std::vector<EncodableValue>;

  void RunScan(const std::wstring& root) {
    const auto start_time = std::chrono::steady_clock::now();
    const std::string root_utf8 = WideToUtf8(root);
    Send(MakeStartedEvent(root_utf8));

    Batch batch;
    batch.reserve(kBatchCapacity);
    ScanDirectory(root, root_utf8, 0, batch);
    // Entries still held are sent after a cancellation too.
    if (!batch.empty()) {
      FlushBatch(batch);
    }

    const auto elapsed = std::chrono::steady_clock::now() - start_time;
    const int64_t duration_ms = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1'000'000;
    final_event_sent_ = true;
    if (cancel_requested_.load(std::memory_order_acquire)) {
      Send(MakeCancelledEvent());
    } else {
      Send(MakeCompletedEvent(Totals(), duration_ms));
    }
  }

  // Walks `path` (given also in UTF-8, so entry paths are built by appending converted names
  // instead of converting every full path) and returns the total size of the files counted below
  // it. Entries go into `batch` in the order they are produced, a folder after its contents.
  uint64_t ScanDirectory(const std::wstring& path, const std::string& path_utf8, int depth, Batch& batch) {
    if (depth > kMaximumDepth || CancelRequested()) {
      return 0;
    }
    const bool ends_with_separator = !path.empty() && path.back() == L'\\';
    std::wstring prefix = path;
    if (!ends_with_separator) {
      prefix += L'\\';
    }
    const std::wstring pattern = prefix + L'*';

    WIN32_FIND_DATAW item;
    FindHandle listing;
    DWORD listing_error = ERROR_ACCESS_DENIED;
    if (!folder_open_hook_ || folder_open_hook_(path) == FolderAccess::kListable) {
      // The basic information level skips the short 8.3 names, and the large fetch asks for
      // bigger directory reads per call; neither changes what is listed.
      const HANDLE handle = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &item, FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH);
      listing_error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
      listing = FindHandle(handle);
    }
    if (!listing.IsValid()) {
      // A drive root has no "." and ".." items, so listing an empty root finds nothing and fails
      // with ERROR_FILE_NOT_FOUND. That folder is empty, not inaccessible. (A folder that is not
      // there fails with ERROR_PATH_NOT_FOUND.)
      if (listing_error == ERROR_FILE_NOT_FOUND) {
        return 0;
      }
      Append(MakeInaccessibleFolderEntry(path_utf8, WideToUtf8(LastPathComponent(path))), batch);
      return 0;
    }

    std::string prefix_utf8 = path_utf8;
    if (!ends_with_separator) {
      prefix_utf8 += '\\';
    }
    uint64_t total = 0;
    // Reused for every item of this folder.
    std::string name_utf8;
    do {
      if (CancelRequested()) {
        break;
      }
      if (IsDotOrDotDot(item.cFileName)) {
        continue;
      }
      // Symbolic links, junctions and mount points are neither followed nor counted nor listed.
      if ((item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        continue;
      }
      const std::wstring_view name(item.cFileName);
      WideToUtf8(name, name_utf8);
      const int64_t modified_time = LastWriteUnixSeconds(item);
      if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        folders_scanned_.fetch_add(1, std::memory_order_relaxed);
        std::string full_utf8 = prefix_utf8 + name_utf8;
        const uint64_t child_total = ScanDirectory(prefix + item.cFileName, full_utf8, depth + 1, batch);
        total += child_total;
        Append(MakeFolderEntry(std::move(full_utf8), name_utf8, child_total, modified_time), batch);
      } else {
        const uint64_t size = FoundFileSize(item);
        total += size;
        files_scanned_.fetch_add(1, std::memory_order_relaxed);
        total_bytes_.fetch_add(size, std::memory_order_relaxed);
        Append(file_entries_.MakeFileEntry(prefix_utf8, name_utf8, size, modified_time, FileExtension(name)), batch);
      }
    } while (FindNextFileW(listing.Get(), &item));
    return total;
  }

  // The flush rule: a batch goes out as soon as it holds 1000 entries.
  void Append(EncodableValue entry, Batch& batch) {
    batch.push_back(std::move(entry));
    if (batch.size() >= kBatchSize) {
      FlushBatch(batch);
      batch.reserve(kBatchCapacity);
    }
  }

  // Sends the batch's entries with the counters of this moment, and leaves the batch empty.
  void FlushBatch(Batch& batch) {
    EncodableValue event = MakeBatchEvent(std::move(batch), Totals());
    Send(event);
    // The callback only borrowed the event, so its entries and their storage serve again.
    auto& sent_entries = std::get<flutter::EncodableMap>(event)[EncodableValue("entries")];
    batch = std::move(std::get<flutter::EncodableList>(sent_entries));
    file_entries_.Recycle(batch);
  }

  ScanTotals Totals() const {
    return ScanTotals{files_scanned_.load(std::memory_order_relaxed), folders_scanned_.load(std::memory_order_relaxed),
                      total_bytes_.load(std::memory_order_relaxed)};
  }

  bool CancelRequested() const { return cancel_requested_.load(std::memory_order_relaxed); }

  // Lock order: this scan's delivery_mutex_ first, then whatever the callback takes (the
  // plugin's sink lock). Nothing holding the sink lock ever waits for a scan's delivery mutex,
  // so the two cannot deadlock.
  void Send(const EncodableValue& event) {
    std::lock_guard lock(delivery_mutex_);
    if (callback_ != nullptr) {
      (*callback_)(event);
    }
  }

  std::mutex delivery_mutex_;
  // The scanner's callback while this scan is the scanner's current one; null once detached.
  // Guarded by delivery_mutex_.
  const ScanEventCallback* callback_;
  // A copy, because the walk runs on after the scanner may be gone.
  const FolderOpenHook folder_open_hook_;
  // Written on the platform thread, read by the walk.
  std::atomic<bool> cancel_requested_{false};
  // Written by the walk only.
  std::atomic<uint64_t> files_scanned_{0};
  std::atomic<uint64_t> folders_scanned_{0};
  std::atomic<uint64_t> total_bytes_{0};
  // Scan thread only: the entries of sent batches, refilled for new files.
  FileEntryPool file_entries_;
  // Scan thread only: whether "completed" or "cancelled" has been attempted.
  bool final_event_sent_ = false;
};

DriveScanner::DriveScanner(ScanEventCallback callback) : DriveScanner(std::move(callback), FolderOpenHook()) {}

DriveScanner::DriveScanner(ScanEventCallback callback, FolderOpenHook folder_open_hook)
    : callback_(std::move(callback)), folder_open_hook_(std::move(folder_open_hook)) {}

DriveScanner::~DriveScanner() {
  // The scan may still be walking; after Detach it holds no reference into this object.
  if (scan_) {
    scan_->Detach();
  }
  if (thread_.joinable()) {
    thread_.detach();
  }
}

void DriveScanner::Start(wchar_t letter) {
  if (scan_) {
    scan_->Detach();
    scan_.reset();
  }
  if (thread_.joinable()) {
    thread_.detach();
  }
  const std::wstring root{letter, L':', L'\\'};
  auto scan = std::make_shared<Scan>(&callback_, folder_open_hook_);
  scan_ = scan;
  thread_ = std::thread([scan = std::move(scan), root] { scan->Run(root); });
}

void DriveScanner::Cancel() {
  if (scan_) {
    scan_->RequestCancel();
  }
}

}  // namespace pel_mora
