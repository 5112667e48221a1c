#include "plugin/drives/read_ahead_walk.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace pel_mora {
namespace {

// Where a folder comes in the walk: the positions, in their parents' listings, of the folders
// from the root down to it. Ordered lexicographically, these keys sort folders in the order the
// walk enters them, and a folder's descendants directly follow it.
using WalkKey = std::vector<uint32_t>;

// The walking thread reads a folder it lists itself into memory up to this size, so the
// listing threads learn of its sub-folders before the walk enters the first of them; the rest
// of a larger folder is read as the walk goes, as a walk without read-ahead does.
constexpr size_t kWalkingThreadBufferBytes = size_t{1} << 20;

// Listing threads take budget in slices of this size (or a sixteenth of a small budget), not
// for each item.
constexpr size_t kBudgetSlice = size_t{64} << 10;

// What an item of a listing held in memory takes, roughly: the record and its strings.
size_t ApproximateBytes(const FolderItem& item) {
  return sizeof(FolderItem) + item.name.capacity() * sizeof(wchar_t) + item.name_utf8.capacity() +
         item.extension.capacity();
}

WalkKey ChildKey(const WalkKey& parent, size_t position) {
  WalkKey child;
  child.reserve(parent.size() + 1);
  child = parent;
  child.push_back(static_cast<uint32_t>(position));
  return child;
}

std::wstring FolderPrefix(const std::wstring& path) {
  return !path.empty() && path.back() == L'\\' ? path : path + L'\\';
}

}  // namespace

// The read-ahead: folders the walk will enter, listed by listing threads in walk order, and
// their listings held until the walk takes them.
class ReadAheadStore {
 public:
  // A folder's listing on its way to the walk: read in full, read in part (the rest still to
  // come from `rest`), or not readable.
  struct Listing {
    bool listable = true;
    std::vector<FolderItem> items;
    std::unique_ptr<FolderEnumeration> rest;
    // What the listing counts against the read-ahead budget until the walk is done with it.
    size_t charged_bytes = 0;
  };

  ReadAheadStore(FolderLister lister, WalkOptions options, const std::atomic<bool>& cancel_requested)
      : lister_(std::move(lister)),
        thread_count_(std::max(0, options.listing_threads)),
        budget_(std::max<size_t>(1, options.read_ahead_bytes)),
        slice_(std::clamp<size_t>(budget_ / 16, 1, kBudgetSlice)),
        cancel_requested_(cancel_requested) {}

  ~ReadAheadStore() { Stop(); }

  ReadAheadStore(const ReadAheadStore&) = delete;
  ReadAheadStore& operator=(const ReadAheadStore&) = delete;

  void StartThreads() {
    threads_.reserve(static_cast<size_t>(thread_count_));
    for (int index = 0; index < thread_count_; ++index) {
      try {
        threads_.emplace_back([this] { ListingThread(); });
      } catch (const std::system_error&) {
        // The system gives no more threads: the walk goes on with those it has, or alone.
        break;
      }
    }
  }

  // Ends the listing threads and waits for them; drops whatever they read.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_.store(true, std::memory_order_relaxed);
    }
    work_.notify_all();
    for (std::thread& thread : threads_) {
      thread.join();
    }
    threads_.clear();
    std::lock_guard lock(mutex_);
    pending_.clear();
    in_progress_.clear();
    ready_.clear();
  }

  // Wakes every thread that waits, so it sees the cancellation.
  void WakeForCancellation() {
    { std::lock_guard lock(mutex_); }
    work_.notify_all();
    done_.notify_all();
  }

  // The listing of the folder at `key`, for the walking thread: the one read ahead, once its
  // listing thread has finished it; otherwise listed here. Everything held for folders before
  // `key` is dropped: the walk has passed them.
  Listing Take(const WalkKey& key, const std::wstring& path, int depth) {
    {
      std::unique_lock lock(mutex_);
      DropBefore(key);
      for (;;) {
        const auto ready = ready_.find(key);
        if (ready != ready_.end()) {
          Listing listing = std::move(ready->second);
          ready_.erase(ready);
          return listing;
        }
        if (in_progress_.count(key) == 0 || CancelRequested()) {
          break;
        }
        done_.wait(lock);
      }
      pending_.erase(key);
    }
    return ListHere(key, path, depth);
  }

  // Drops what is held for the folder at `key` and for everything inside it, which the walk
  // will not enter.
  void Drop(const WalkKey& key) {
    std::lock_guard lock(mutex_);
    if (key.empty()) {
      DropBefore(std::nullopt);
      return;
    }
    WalkKey after = key;
    ++after.back();
    DropBefore(after);
  }

  // Gives back what a listing taken by the walk counted against the budget.
  void GiveBack(size_t bytes) {
    if (bytes == 0) {
      return;
    }
    {
      std::lock_guard lock(mutex_);
      budget_used_ -= bytes;
    }
    work_.notify_all();
  }

 private:
  struct PendingFolder {
    std::wstring path;
    int depth = 0;
  };

  bool CancelRequested() const { return cancel_requested_.load(std::memory_order_relaxed); }
  bool Stopping() const { return stopping_.load(std::memory_order_relaxed) || CancelRequested(); }

  // Drops everything held for folders before `bound` (everything when there is none). Called
  // with mutex_ held. A listing in progress there is dropped by its thread when it finishes.
  void DropBefore(const std::optional<WalkKey>& bound) {
    const auto ready_end = bound ? ready_.lower_bound(*bound) : ready_.end();
    for (auto ready = ready_.begin(); ready != ready_end; ++ready) {
      budget_used_ -= ready->second.charged_bytes;
    }
    ready_.erase(ready_.begin(), ready_end);
    pending_.erase(pending_.begin(), bound ? pending_.lower_bound(*bound) : pending_.end());
    in_progress_.erase(in_progress_.begin(), bound ? in_progress_.lower_bound(*bound) : in_progress_.end());
    work_.notify_all();
  }

  // The walking thread lists the folder itself.
  Listing ListHere(const WalkKey& key, const std::wstring& path, int depth) {
    Listing listing;
    // Opened even after a cancellation that came once the walk had decided to enter it: the walk
    // then reports it as a walk one folder at a time does, unlistable or without contents.
    std::unique_ptr<FolderEnumeration> enumeration = lister_(path);
    if (enumeration == nullptr) {
      listing.listable = false;
      return listing;
    }
    if (thread_count_ == 0) {
      // Nobody reads ahead, so nothing is gained by holding the items: the walk reads them as
      // it goes.
      listing.rest = std::move(enumeration);
      return listing;
    }
    size_t bytes = 0;
    FolderItem item;
    while (!CancelRequested()) {
      if (bytes >= kWalkingThreadBufferBytes) {
        listing.rest = std::move(enumeration);
        break;
      }
      if (!enumeration->Next(item)) {
        break;
      }
      listing.items.push_back(std::move(item));
      bytes += ApproximateBytes(listing.items.back());
    }
    Register(key, path, depth, listing.items);
    return listing;
  }

  // Makes the sub-folders the walk will enter known to the listing threads.
  void Register(const WalkKey& key, const std::wstring& path, int depth, const std::vector<FolderItem>& items) {
    if (depth + 1 > kMaximumWalkDepth) {
      return;
    }
    // Built before the lock is taken, then spliced in without allocating.
    std::map<WalkKey, PendingFolder> found;
    std::wstring prefix;
    for (size_t position = 0; position < items.size(); ++position) {
      if (items[position].kind != FolderItemKind::kFolder) {
        continue;
      }
      if (prefix.empty()) {
        prefix = FolderPrefix(path);
      }
      found.emplace_hint(found.end(), ChildKey(key, position), PendingFolder{prefix + items[position].name, depth + 1});
    }
    if (found.empty()) {
      return;
    }
    {
      std::lock_guard lock(mutex_);
      pending_.merge(found);
    }
    work_.notify_all();
  }

  void ListingThread() noexcept {
    try {
      ListFolders();
    } catch (...) {
      // Out of memory: the walk goes on without this thread, listing what it needs itself.
    }
  }

  void ListFolders() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return Stopping() || (!pending_.empty() && budget_used_ + slice_ <= budget_); });
      if (Stopping()) {
        return;
      }
      // The first folder still to list is the one the walk needs soonest.
      auto first = pending_.extract(pending_.begin());
      const WalkKey& key = first.key();
      in_progress_.insert(key);
      budget_used_ += slice_;
      lock.unlock();

      Listing listing;
      listing.charged_bytes = slice_;
      size_t used_bytes = 0;
      ReadAhead(first.mapped().path, listing, used_bytes);
      std::map<WalkKey, PendingFolder> found;
      if (!Stopping() && listing.listable) {
        // Sub-folders of a listing handed over partly read are found by the walk itself.
        FindSubfolders(key, first.mapped(), listing.items, found);
      }

      lock.lock();
      // Whether the walk still wants it: it may have passed the folder, or listed it itself
      // after a cancellation.
      const bool wanted = in_progress_.erase(key) != 0 && !Stopping();
      if (!wanted) {
        budget_used_ -= listing.charged_bytes;
        done_.notify_all();
        lock.unlock();
        listing = Listing();
        lock.lock();
        continue;
      }
      // Only what the items take stays counted.
      const size_t kept_bytes = std::min(listing.charged_bytes, used_bytes);
      budget_used_ -= listing.charged_bytes - kept_bytes;
      listing.charged_bytes = kept_bytes;
      pending_.merge(found);
      ready_.emplace(key, std::move(listing));
      done_.notify_all();
      work_.notify_all();
    }
  }

  // Reads the folder `path` into `listing` while the budget allows, counting what its items take
  // in `used_bytes`; a listing the budget cannot hold is handed over with the rest to be read.
  void ReadAhead(const std::wstring& path, Listing& listing, size_t& used_bytes) {
    std::unique_ptr<FolderEnumeration> enumeration = lister_(path);
    if (enumeration == nullptr) {
      listing.listable = false;
      return;
    }
    FolderItem item;
    while (!Stopping()) {
      if (!enumeration->Next(item)) {
        return;
      }
      listing.items.push_back(std::move(item));
      used_bytes += ApproximateBytes(listing.items.back());
      if (used_bytes > listing.charged_bytes && !TryCharge(listing)) {
        listing.rest = std::move(enumeration);
        return;
      }
    }
  }

  bool TryCharge(Listing& listing) {
    std::lock_guard lock(mutex_);
    if (budget_used_ + slice_ > budget_) {
      return false;
    }
    budget_used_ += slice_;
    listing.charged_bytes += slice_;
    return true;
  }

  void FindSubfolders(const WalkKey& key, const PendingFolder& folder, const std::vector<FolderItem>& items,
                      std::map<WalkKey, PendingFolder>& found) const {
    if (folder.depth + 1 > kMaximumWalkDepth) {
      return;
    }
    const std::wstring prefix = FolderPrefix(folder.path);
    for (size_t position = 0; position < items.size(); ++position) {
      if (items[position].kind == FolderItemKind::kFolder) {
        found.emplace_hint(found.end(), ChildKey(key, position),
                           PendingFolder{prefix + items[position].name, folder.depth + 1});
      }
    }
  }

  const FolderLister lister_;
  const int thread_count_;
  const size_t budget_;
  const size_t slice_;
  const std::atomic<bool>& cancel_requested_;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  // Listing threads wait here for a folder to list and budget to list it with.
  std::condition_variable work_;
  // The walking thread waits here for a listing in progress.
  std::condition_variable done_;
  // Guarded by mutex_: folders known and not yet taken by the walk, each in one of three states.
  std::map<WalkKey, PendingFolder> pending_;
  std::set<WalkKey> in_progress_;
  std::map<WalkKey, Listing> ready_;
  size_t budget_used_ = 0;

  std::vector<std::thread> threads_;
};

namespace {

// The depth-first walk on the walking thread.
class Walker {
 public:
  Walker(ReadAheadStore& store, WalkVisitor& visitor, const std::atomic<bool>& cancel_requested)
      : store_(store), visitor_(visitor), cancel_requested_(cancel_requested) {}

  uint64_t WalkFolder(const std::wstring& path, const std::string& path_utf8, const WalkKey& key, int depth) {
    if (depth > kMaximumWalkDepth || CancelRequested()) {
      return 0;
    }
    ReadAheadStore::Listing listing;
    if (visitor_.BeforeOpening(path) == FolderAccess::kListable) {
      listing = store_.Take(key, path, depth);
    } else {
      store_.Drop(key);
      listing.listable = false;
    }
    const BudgetReturn budget_return(store_, listing.charged_bytes);
    if (!listing.listable) {
      const size_t separator = path_utf8.rfind('\\');
      visitor_.InaccessibleFolder(path_utf8,
                                  separator == std::string::npos ? path_utf8 : path_utf8.substr(separator + 1));
      return 0;
    }

    const std::wstring prefix = FolderPrefix(path);
    const std::string prefix_utf8 = !path_utf8.empty() && path_utf8.back() == '\\' ? path_utf8 : path_utf8 + '\\';
    uint64_t total = 0;
    // Holds an item read as the walk goes, past what the listing holds.
    FolderItem streamed;
    for (size_t position = 0;; ++position) {
      if (CancelRequested()) {
        break;
      }
      const FolderItem* item = nullptr;
      if (position < listing.items.size()) {
        item = &listing.items[position];
      } else if (listing.rest != nullptr && listing.rest->Next(streamed)) {
        item = &streamed;
      } else {
        break;
      }
      switch (item->kind) {
        case FolderItemKind::kLink:
          break;
        case FolderItemKind::kFolder: {
          visitor_.FolderFound();
          std::string full_utf8 = prefix_utf8 + item->name_utf8;
          const uint64_t child_total = WalkFolder(prefix + item->name, full_utf8, ChildKey(key, position), depth + 1);
          total += child_total;
          visitor_.Folder(std::move(full_utf8), *item, child_total);
          break;
        }
        case FolderItemKind::kFile:
          total += item->size_bytes;
          visitor_.File(prefix_utf8, *item);
          break;
      }
    }
    return total;
  }

 private:
  // Gives a taken listing's budget back when the walk leaves its folder.
  class BudgetReturn {
   public:
    BudgetReturn(ReadAheadStore& store, size_t bytes) : store_(store), bytes_(bytes) {}
    ~BudgetReturn() { store_.GiveBack(bytes_); }
    BudgetReturn(const BudgetReturn&) = delete;
    BudgetReturn& operator=(const BudgetReturn&) = delete;

   private:
    ReadAheadStore& store_;
    size_t bytes_;
  };

  bool CancelRequested() const { return cancel_requested_.load(std::memory_order_relaxed); }

  ReadAheadStore& store_;
  WalkVisitor& visitor_;
  const std::atomic<bool>& cancel_requested_;
};

}  // namespace

int DefaultListingThreads() {
  const unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(processors, 2u, 8u));
}

ReadAheadWalk::ReadAheadWalk(FolderLister lister, WalkOptions options)
    : store_(std::make_unique<ReadAheadStore>(std::move(lister), options, cancel_requested_)) {}

ReadAheadWalk::~ReadAheadWalk() = default;

uint64_t ReadAheadWalk::Run(const std::wstring& root, const std::string& root_utf8, WalkVisitor& visitor) {
  // Stops and joins the listing threads however the walk ends.
  struct ThreadsStop {
    ReadAheadStore& store;
    ~ThreadsStop() { store.Stop(); }
  } threads_stop{*store_};
  store_->StartThreads();
  Walker walker(*store_, visitor, cancel_requested_);
  return walker.WalkFolder(root, root_utf8, WalkKey(), 0);
}

void ReadAheadWalk::Cancel() {
  cancel_requested_.store(true, std::memory_order_release);
  store_->WakeForCancellation();
}

}  // namespace pel_mora
