#include "plugin/drives/drive_scanner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "plugin/drives/folder_lister_win32.h"
#include "plugin/drives/scan_records.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableValue;

// A batch is sent at this many entries; its storage is reserved a little larger, once per batch.
constexpr size_t kBatchSize = 1000;
constexpr size_t kBatchCapacity = 1064;

WalkOptions WalkOptionsFor(ScanListing listing) {
  WalkOptions options;
  options.listing_threads = listing == ScanListing::kReadAhead ? DefaultListingThreads() : 0;
  return options;
}

}  // namespace

// The walk reports to the scan, which turns what it finds into entries, batches and counters.
class DriveScanner::Scan : private WalkVisitor {
 public:
  Scan(const ScanEventCallback* callback, FolderOpenHook folder_open_hook, ScanListing listing)
      : callback_(callback),
        folder_open_hook_(std::move(folder_open_hook)),
        walk_(ListFolder, WalkOptionsFor(listing)) {}

  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  void RequestCancel() { walk_.Cancel(); }

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

    batch_.reserve(kBatchCapacity);
    // The listing threads have ended when the walk returns.
    walk_.Run(root, root_utf8, *this);
    // Entries still held are sent after a cancellation too.
    if (!batch_.empty()) {
      FlushBatch();
    }

    const auto elapsed = std::chrono::steady_clock::now() - start_time;
    const int64_t duration_ms = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1'000'000;
    final_event_sent_ = true;
    if (walk_.CancelRequested()) {
      Send(MakeCancelledEvent());
    } else {
      Send(MakeCompletedEvent(Totals(), duration_ms));
    }
  }

  // What the walk finds, in the order of a walk one folder at a time.
  FolderAccess BeforeOpening(const std::wstring& path) override {
    return folder_open_hook_ ? folder_open_hook_(path) : FolderAccess::kListable;
  }

  void FolderFound() override { folders_scanned_.fetch_add(1, std::memory_order_relaxed); }

  void File(const std::string& folder_prefix_utf8, const FolderItem& item) override {
    files_scanned_.fetch_add(1, std::memory_order_relaxed);
    total_bytes_.fetch_add(item.size_bytes, std::memory_order_relaxed);
    Append(file_entries_.MakeFileEntry(folder_prefix_utf8, item.name_utf8, item.size_bytes, item.modified_time,
                                       item.extension));
  }

  void Folder(std::string path_utf8, const FolderItem& item, uint64_t total_bytes) override {
    Append(MakeFolderEntry(std::move(path_utf8), item.name_utf8, total_bytes, item.modified_time));
  }

  void InaccessibleFolder(std::string path_utf8, std::string name_utf8) override {
    Append(MakeInaccessibleFolderEntry(std::move(path_utf8), std::move(name_utf8)));
  }

  // The flush rule: a batch goes out as soon as it holds 1000 entries.
  void Append(EncodableValue entry) {
    batch_.push_back(std::move(entry));
    if (batch_.size() >= kBatchSize) {
      FlushBatch();
      batch_.reserve(kBatchCapacity);
    }
  }

  // Sends the batch's entries with the counters of this moment, and leaves the batch empty.
  void FlushBatch() {
    EncodableValue event = MakeBatchEvent(std::move(batch_), Totals());
    Send(event);
    // The callback only borrowed the event, so its entries and their storage serve again.
    auto& sent_entries = std::get<flutter::EncodableMap>(event)[EncodableValue("entries")];
    batch_ = std::move(std::get<flutter::EncodableList>(sent_entries));
    file_entries_.Recycle(batch_);
  }

  ScanTotals Totals() const {
    return ScanTotals{files_scanned_.load(std::memory_order_relaxed), folders_scanned_.load(std::memory_order_relaxed),
                      total_bytes_.load(std::memory_order_relaxed)};
  }

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
  // Holds this scan's cancel flag, written on the platform thread and read by the walk, and its
  // listing threads, which touch nothing outside it.
  ReadAheadWalk walk_;
  // Written by the scan thread only.
  std::atomic<uint64_t> files_scanned_{0};
  std::atomic<uint64_t> folders_scanned_{0};
  std::atomic<uint64_t> total_bytes_{0};
  // Scan thread only: the entries not yet sent.
  Batch batch_;
  // Scan thread only: the entries of sent batches, refilled for new files.
  FileEntryPool file_entries_;
  // Scan thread only: whether "completed" or "cancelled" has been attempted.
  bool final_event_sent_ = false;
};

DriveScanner::DriveScanner(ScanEventCallback callback) : DriveScanner(std::move(callback), FolderOpenHook()) {}

DriveScanner::DriveScanner(ScanEventCallback callback, FolderOpenHook folder_open_hook, ScanListing listing)
    : callback_(std::move(callback)), folder_open_hook_(std::move(folder_open_hook)), listing_(listing) {}

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
  auto scan = std::make_shared<Scan>(&callback_, folder_open_hook_, listing_);
  scan_ = scan;
  thread_ = std::thread([scan = std::move(scan), root] { scan->Run(root); });
}

void DriveScanner::Cancel() {
  if (scan_) {
    scan_->RequestCancel();
  }
}

}  // namespace pel_mora
