#pragma once

// The drive scan's walk: depth first, a folder reported after everything inside it, with the
// listing of the folders it will enter next read ahead on threads of their own. Whatever those
// threads do and however long each listing takes, the walking thread reports exactly what a
// walk that lists one folder at a time reports, in the same order: the read-ahead only changes
// when a listing was made, never which listing the walk uses or where.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "plugin/drives/folder_listing.h"

namespace pel_mora {

class ReadAheadStore;

// The root has depth 0; folders down to this depth are opened, and a folder one level deeper is
// reported by its parent but not opened.
constexpr int kMaximumWalkDepth = 64;

// Whether the walk may list a folder it is about to open.
enum class FolderAccess { kListable, kDenied };

// Receives what the walk finds, on the walking thread, in the order of a one-folder-at-a-time
// walk.
class WalkVisitor {
 public:
  virtual ~WalkVisitor() = default;

  // Just before the walk opens the folder `path`. kDenied makes it report the folder as one
  // that cannot be listed, whatever a listing thread found there.
  virtual FolderAccess BeforeOpening(const std::wstring& path) = 0;

  // A sub-folder is about to be entered: it counts before anything inside it is reported.
  virtual void FolderFound() = 0;

  // A file of the folder whose path, ending in a backslash, is `folder_prefix_utf8`.
  virtual void File(const std::string& folder_prefix_utf8, const FolderItem& item) = 0;

  // A sub-folder, after everything inside it; `total_bytes` is the size of the files counted
  // below it.
  virtual void Folder(std::string path_utf8, const FolderItem& item, uint64_t total_bytes) = 0;

  // A folder that could not be listed: `name_utf8` is the part of the path after its last
  // backslash (empty for a drive root).
  virtual void InaccessibleFolder(std::string path_utf8, std::string name_utf8) = 0;
};

// How the walk lists folders.
struct WalkOptions {
  // Threads that read ahead; 0 lists every folder on the walking thread as it is entered.
  int listing_threads = 0;
  // What the listings held ahead of the walk may take, in bytes (approximately: the items and
  // their strings). Listings too large for it are handed over partly read.
  size_t read_ahead_bytes = size_t{32} << 20;
};

// The listing threads the scan uses on this machine: one per processor, at least two, at most
// eight.
int DefaultListingThreads();

class ReadAheadWalk {
 public:
  ReadAheadWalk(FolderLister lister, WalkOptions options);
  ~ReadAheadWalk();

  ReadAheadWalk(const ReadAheadWalk&) = delete;
  ReadAheadWalk& operator=(const ReadAheadWalk&) = delete;

  // Walks the folder `root` (its path also in UTF-8) on the calling thread and returns the size
  // of the files counted below it. Listing threads start here and have ended when it returns,
  // also when it throws. Once per object.
  uint64_t Run(const std::wstring& root, const std::string& root_utf8, WalkVisitor& visitor);

  // Asks the walk to stop: it notices at the next folder and before the next item, and stops
  // waiting for a listing being read ahead. Any thread, any time, also before Run.
  void Cancel();
  bool CancelRequested() const { return cancel_requested_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> cancel_requested_{false};
  std::unique_ptr<ReadAheadStore> store_;
};

}  // namespace pel_mora
