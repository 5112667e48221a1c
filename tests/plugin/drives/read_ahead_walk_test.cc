#include "plugin/drives/read_ahead_walk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pel_mora {
namespace {

const std::wstring kRoot = L"R:\\";

// UTF-8 of a wide name (UTF-32 here, where this test runs natively; UTF-16 surrogates never
// occur in its names).
std::string Utf8(const std::wstring& text) {
  std::string out;
  for (const wchar_t character : text) {
    const auto code = static_cast<uint32_t>(character);
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::wstring Child(const std::wstring& folder, const std::wstring& name) {
  return folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

// A drive in memory: each folder's items in listing order. Folders can be made unlistable or
// removed while a walk runs.
class FakeTree {
 public:
  FakeTree() { folders_[kRoot]; }

  void AddFile(const std::wstring& folder, const std::wstring& name, uint64_t size) {
    FolderItem item;
    item.name_utf8 = Utf8(name);
    item.extension = name.size() > 4 ? Utf8(name.substr(name.size() - 3)) : "";
    item.kind = FolderItemKind::kFile;
    item.size_bytes = size;
    item.modified_time = static_cast<int64_t>(1'600'000'000 + size);
    Add(folder, std::move(item));
  }

  // Returns the new folder's path.
  std::wstring AddFolder(const std::wstring& folder, const std::wstring& name) {
    FolderItem item;
    item.name = name;
    item.name_utf8 = Utf8(name);
    item.kind = FolderItemKind::kFolder;
    item.modified_time = 1'500'000'000 + static_cast<int64_t>(name.size());
    Add(folder, std::move(item));
    const std::wstring path = Child(folder, name);
    folders_[path];
    return path;
  }

  // A link to `target`, listed like a folder with the reparse-point attribute.
  void AddLink(const std::wstring& folder, const std::wstring& name) {
    FolderItem item;
    item.name = name;
    item.name_utf8 = Utf8(name);
    item.kind = FolderItemKind::kLink;
    Add(folder, std::move(item));
  }

  void MakeUnlistable(const std::wstring& path) {
    std::lock_guard lock(mutex_);
    unlistable_.insert(path);
  }

  // Removes the folder's contents from the drive; listing it fails from now on, as a listing of
  // a removed folder does. Its parent still lists it if it was listed before.
  void Remove(const std::wstring& path) {
    std::lock_guard lock(mutex_);
    folders_.erase(path);
  }

  // The items of `path`, or nothing when it cannot be listed.
  std::optional<std::vector<FolderItem>> List(const std::wstring& path) const {
    std::lock_guard lock(mutex_);
    const auto folder = folders_.find(path);
    if (folder == folders_.end() || unlistable_.count(path) != 0) {
      return std::nullopt;
    }
    return folder->second;
  }

 private:
  void Add(const std::wstring& folder, FolderItem item) {
    std::lock_guard lock(mutex_);
    folders_.at(folder).push_back(std::move(item));
  }

  mutable std::mutex mutex_;
  std::map<std::wstring, std::vector<FolderItem>> folders_;
  std::set<std::wstring> unlistable_;
};

// Lists a FakeTree with delays chosen at random per folder and per item, so listing threads
// finish in a different order on every run and seed; counts the listings under way. One folder's
// listing can be held at a gate, to have a listing under way at a moment the test chooses.
class DelayingLister {
 public:
  DelayingLister(const FakeTree& tree, uint32_t seed) : tree_(tree), seed_(seed) {}

  FolderLister Lister() {
    return [this](const std::wstring& path) -> std::unique_ptr<FolderEnumeration> {
      // Under way from here until the listing fails or its enumeration is destroyed.
      listings_in_progress_.fetch_add(1);
      std::mt19937 random(seed_ ^ static_cast<uint32_t>(std::hash<std::wstring>()(path)));
      Delay(random);
      if (path == held_path_) {
        WaitAtTheGate();
      }
      std::optional<std::vector<FolderItem>> items = tree_.List(path);
      if (!items) {
        listings_in_progress_.fetch_sub(1);
        return nullptr;
      }
      return std::make_unique<Enumeration>(*this, std::move(*items), random());
    };
  }

  // Listings started and not yet over: a lister call not yet returned, or an enumeration not yet
  // destroyed.
  int ListingsInProgress() const { return listings_in_progress_.load(); }

  // The listing of `path` waits at a gate until ReleaseHeldListing; released, it still takes a
  // while, as the listing of a slow disk does, so that whoever stops the walk without waiting
  // for its listing threads comes back while it is under way. Set before the walk starts.
  void HoldListingOf(const std::wstring& path) { held_path_ = path; }

  // Waits until the held listing has reached its gate.
  void WaitUntilHeld() {
    std::unique_lock lock(gate_mutex_);
    gate_changed_.wait(lock, [this] { return held_; });
  }

  void ReleaseHeldListing() {
    std::lock_guard lock(gate_mutex_);
    released_ = true;
    gate_changed_.notify_all();
  }

 private:
  class Enumeration : public FolderEnumeration {
   public:
    Enumeration(DelayingLister& owner, std::vector<FolderItem> items, uint32_t seed)
        : owner_(owner), items_(std::move(items)), random_(seed) {}
    ~Enumeration() override { owner_.listings_in_progress_.fetch_sub(1); }

    bool Next(FolderItem& item) override {
      if (random_() % 64 == 0) {
        Delay(random_);
      }
      if (next_ == items_.size()) {
        return false;
      }
      item = items_[next_++];
      return true;
    }

   private:
    DelayingLister& owner_;
    std::vector<FolderItem> items_;
    size_t next_ = 0;
    std::mt19937 random_;
  };

  static void Delay(std::mt19937& random) {
    switch (random() % 4) {
      case 0:
        break;
      case 1:
        std::this_thread::yield();
        break;
      default:
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        break;
    }
  }

  void WaitAtTheGate() {
    {
      std::unique_lock lock(gate_mutex_);
      held_ = true;
      gate_changed_.notify_all();
      gate_changed_.wait(lock, [this] { return released_; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }

  const FakeTree& tree_;
  const uint32_t seed_;
  std::atomic<int> listings_in_progress_{0};
  std::wstring held_path_;
  std::mutex gate_mutex_;
  std::condition_variable gate_changed_;
  bool held_ = false;
  bool released_ = false;
};

// Writes down everything a walk reports, in order, as lines of text.
class Recorder : public WalkVisitor {
 public:
  using OpeningHook = std::function<FolderAccess(const std::wstring& path, int opening)>;

  explicit Recorder(OpeningHook hook = nullptr) : hook_(std::move(hook)) {}

  FolderAccess BeforeOpening(const std::wstring& path) override {
    ++openings_;
    lines_.push_back("open " + Utf8(path));
    return hook_ ? hook_(path, openings_) : FolderAccess::kListable;
  }
  void FolderFound() override { lines_.push_back("found"); }
  void File(const std::string& folder_prefix_utf8, const FolderItem& item) override {
    lines_.push_back("file " + folder_prefix_utf8 + item.name_utf8 + " " + std::to_string(item.size_bytes) + " " +
                     std::to_string(item.modified_time) + " ." + item.extension);
  }
  void Folder(std::string path_utf8, const FolderItem& item, uint64_t total_bytes) override {
    lines_.push_back("folder " + path_utf8 + " " + item.name_utf8 + " " + std::to_string(total_bytes) + " " +
                     std::to_string(item.modified_time));
  }
  void InaccessibleFolder(std::string path_utf8, std::string name_utf8) override {
    lines_.push_back("inaccessible " + path_utf8 + " [" + name_utf8 + "]");
  }

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  OpeningHook hook_;
  int openings_ = 0;
  std::vector<std::string> lines_;
};

// The walk as written down for one thread, one folder at a time, straight from its rules: the
// reference every read-ahead walk must match line for line.
class ReferenceWalk {
 public:
  ReferenceWalk(const FakeTree& tree, Recorder& recorder) : tree_(tree), recorder_(recorder) {}

  void Cancel() { cancelled_ = true; }

  // The walk stops as when cancelled while it reports its `count`th line: at the next point
  // where it looks for a cancellation. 0 stops it before the root.
  void CancelAfterLines(size_t count) { cancel_after_lines_ = count; }

  uint64_t Walk(const std::wstring& path, int depth) {
    if (depth > kMaximumWalkDepth || Cancelled()) {
      return 0;
    }
    std::optional<std::vector<FolderItem>> items;
    if (recorder_.BeforeOpening(path) == FolderAccess::kListable) {
      items = tree_.List(path);
    }
    if (!items) {
      const std::string utf8 = Utf8(path);
      recorder_.InaccessibleFolder(utf8, utf8.substr(utf8.rfind('\\') + 1));
      return 0;
    }
    const std::string prefix = Utf8(Child(path, L""));
    uint64_t total = 0;
    for (const FolderItem& item : *items) {
      if (Cancelled()) {
        break;
      }
      if (item.kind == FolderItemKind::kLink) {
        continue;
      }
      if (item.kind == FolderItemKind::kFolder) {
        recorder_.FolderFound();
        const uint64_t child = Walk(Child(path, item.name), depth + 1);
        total += child;
        recorder_.Folder(prefix + item.name_utf8, item, child);
      } else {
        total += item.size_bytes;
        recorder_.File(prefix, item);
      }
    }
    return total;
  }

 private:
  bool Cancelled() const {
    return cancelled_ || (cancel_after_lines_ && recorder_.Lines().size() >= *cancel_after_lines_);
  }

  const FakeTree& tree_;
  Recorder& recorder_;
  bool cancelled_ = false;
  std::optional<size_t> cancel_after_lines_;
};

// An irregular drive: uneven fan-out (folders of none to hundreds of items, one of 2,500 files,
// larger than the small read-ahead budgets below), empty folders, links, names in several
// scripts, a chain deeper than the depth bound with files along it, and unlistable folders.
void FillIrregularDrive(FakeTree& tree, uint32_t seed) {
  std::mt19937 random(seed);
  const std::wstring names[] = {L"a", L"report.PDF", L"\u00e9t\u00e9", L"\u65e5\u672c\u8a9e.txt",
                                L"\U0001F600 x", L"node_modules", L".hidden", L"Photo 0001.JPG"};
  int counter = 0;
  auto name = [&] { return names[random() % std::size(names)] + L" " + std::to_wstring(counter++); };
  std::vector<std::pair<std::wstring, int>> folders{{kRoot, 0}};
  for (size_t index = 0; index < folders.size() && folders.size() < 400; ++index) {
    const auto [folder, depth] = folders[index];
    const uint32_t shape = random() % 10;
    const int files = shape < 3 ? 0 : shape < 8 ? static_cast<int>(random() % 20) : static_cast<int>(random() % 300);
    const int subfolders = depth == 0 ? 6 : depth > 5 ? 0 : static_cast<int>(random() % (shape < 5 ? 2 : 7));
    for (int file = 0; file < files; ++file) {
      tree.AddFile(folder, name(), random() % 100'000);
      if (random() % 50 == 0) {
        tree.AddLink(folder, name());
      }
    }
    for (int subfolder = 0; subfolder < subfolders; ++subfolder) {
      folders.emplace_back(tree.AddFolder(folder, name()), depth + 1);
      if (random() % 25 == 0) {
        tree.MakeUnlistable(folders.back().first);
      }
    }
  }
  const std::wstring flat = tree.AddFolder(kRoot, L"flat");
  for (int file = 0; file < 2500; ++file) {
    tree.AddFile(flat, L"f" + std::to_wstring(file) + L".dat", static_cast<uint64_t>(file));
  }
  std::wstring chain = tree.AddFolder(kRoot, L"chain");
  for (int depth = 2; depth <= 70; ++depth) {
    chain = tree.AddFolder(chain, L"d" + std::to_wstring(depth));
    tree.AddFile(chain, L"at" + std::to_wstring(depth) + L".bin", static_cast<uint64_t>(depth));
  }
  tree.AddFile(kRoot, L"last.bin", 7);
}

std::vector<std::string> ReferenceLines(const FakeTree& tree, Recorder::OpeningHook hook = nullptr,
                                        std::function<void(ReferenceWalk&, const std::wstring&, int)> on_open = nullptr) {
  ReferenceWalk* walk_pointer = nullptr;
  Recorder recorder([&](const std::wstring& path, int opening) {
    if (on_open) {
      on_open(*walk_pointer, path, opening);
    }
    return hook ? hook(path, opening) : FolderAccess::kListable;
  });
  ReferenceWalk walk(tree, recorder);
  walk_pointer = &walk;
  walk.Walk(kRoot, 0);
  return recorder.Lines();
}

std::vector<std::string> ReferenceLinesCancelledAfter(const FakeTree& tree, size_t line_count) {
  Recorder recorder;
  ReferenceWalk walk(tree, recorder);
  walk.CancelAfterLines(line_count);
  walk.Walk(kRoot, 0);
  return recorder.Lines();
}

struct Schedule {
  int listing_threads;
  size_t read_ahead_bytes;
};

// Thread counts and budgets: none (one folder at a time), one thread, more threads than the
// machine has, and budgets from a few items to plenty.
const Schedule kSchedules[] = {
    {0, size_t{32} << 20}, {1, size_t{32} << 20}, {2, size_t{32} << 20}, {4, size_t{32} << 20},
    {2, 600},              {3, 8 << 10},          {8, 1},
};

TEST(ReadAheadWalkTest, StreamEqualsTheOneFolderAtATimeWalkForEveryScheduleAndSeed) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    FakeTree tree;
    FillIrregularDrive(tree, seed);
    const std::vector<std::string> expected = ReferenceLines(tree);
    ASSERT_GT(expected.size(), 2800u);
    for (const Schedule& schedule : kSchedules) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", threads " + std::to_string(schedule.listing_threads) +
                   ", budget " + std::to_string(schedule.read_ahead_bytes));
      DelayingLister lister(tree, seed * 7919 + static_cast<uint32_t>(schedule.listing_threads));
      Recorder recorder;
      ReadAheadWalk walk(lister.Lister(), WalkOptions{schedule.listing_threads, schedule.read_ahead_bytes});
      walk.Run(kRoot, Utf8(kRoot), recorder);
      EXPECT_EQ(recorder.Lines(), expected);
      // Nothing read ahead outlives the walk.
      EXPECT_EQ(lister.ListingsInProgress(), 0);
    }
  }
}

TEST(ReadAheadWalkTest, RootThatCannotBeListedGivesOneEntryWithoutAName) {
  FakeTree tree;
  tree.AddFile(kRoot, L"file.bin", 5);
  tree.MakeUnlistable(kRoot);
  DelayingLister lister(tree, 1);
  Recorder recorder;
  ReadAheadWalk walk(lister.Lister(), WalkOptions{2, size_t{1} << 20});
  EXPECT_EQ(walk.Run(kRoot, Utf8(kRoot), recorder), 0u);
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open R:\\", "inaccessible R:\\ []"}));
}

TEST(ReadAheadWalkTest, CancelAtAnyFolderStopsWhereTheOneFolderAtATimeWalkStops) {
  FakeTree tree;
  FillIrregularDrive(tree, 11);
  for (const int cancel_at : {1, 2, 3, 17, 40, 150}) {
    const std::vector<std::string> expected =
        ReferenceLines(tree, nullptr, [&](ReferenceWalk& walk, const std::wstring&, int opening) {
          if (opening == cancel_at) {
            walk.Cancel();
          }
        });
    for (const Schedule& schedule : kSchedules) {
      SCOPED_TRACE("cancel at opening " + std::to_string(cancel_at) + ", threads " +
                   std::to_string(schedule.listing_threads) + ", budget " + std::to_string(schedule.read_ahead_bytes));
      DelayingLister lister(tree, static_cast<uint32_t>(cancel_at));
      ReadAheadWalk walk(lister.Lister(), WalkOptions{schedule.listing_threads, schedule.read_ahead_bytes});
      Recorder recorder([&](const std::wstring&, int opening) {
        if (opening == cancel_at) {
          walk.Cancel();
        }
        return FolderAccess::kListable;
      });
      walk.Run(kRoot, Utf8(kRoot), recorder);
      EXPECT_EQ(recorder.Lines(), expected);
      EXPECT_TRUE(walk.CancelRequested());
      EXPECT_EQ(lister.ListingsInProgress(), 0);
    }
  }
}

TEST(ReadAheadWalkTest, FolderDeniedAtOpeningIsInaccessibleEvenWhenItsListingWasReadAhead) {
  FakeTree tree;
  FillIrregularDrive(tree, 5);
  const std::wstring denied = Child(kRoot, L"flat");
  auto deny = [&](const std::wstring& path, int) {
    return path == denied || path == Child(kRoot, L"chain") ? FolderAccess::kDenied : FolderAccess::kListable;
  };
  const std::vector<std::string> expected = ReferenceLines(tree, deny);
  for (const Schedule& schedule : kSchedules) {
    SCOPED_TRACE("threads " + std::to_string(schedule.listing_threads));
    DelayingLister lister(tree, 3);
    Recorder recorder(deny);
    ReadAheadWalk walk(lister.Lister(), WalkOptions{schedule.listing_threads, schedule.read_ahead_bytes});
    walk.Run(kRoot, Utf8(kRoot), recorder);
    EXPECT_EQ(recorder.Lines(), expected);
  }
}

// A folder removed while the walk runs: the walk reports it either as the listing read before
// the removal showed it, or as a folder that could not be listed. Both are what a walk one
// folder at a time reports, depending on when the removal comes.
TEST(ReadAheadWalkTest, FolderRemovedDuringTheWalkIsReportedAsListedBeforeOrAsUnlistable) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    FakeTree tree;
    const std::wstring first = tree.AddFolder(kRoot, L"first");
    for (int file = 0; file < 50; ++file) {
      tree.AddFile(first, L"f" + std::to_wstring(file), 1);
    }
    const std::wstring doomed = tree.AddFolder(kRoot, L"doomed");
    for (int file = 0; file < 30; ++file) {
      tree.AddFile(doomed, L"g" + std::to_wstring(file), 10);
    }
    tree.AddFile(kRoot, L"after.bin", 3);
    // The removal comes as the walk enters "first", after the root was listed.
    auto remove_at_first = [&](const std::wstring& path, int) {
      if (path == first) {
        tree.Remove(doomed);
      }
      return FolderAccess::kListable;
    };
    const std::vector<std::string> listed_before = ReferenceLines(tree);
    DelayingLister lister(tree, seed);
    Recorder recorder(remove_at_first);
    ReadAheadWalk walk(lister.Lister(), WalkOptions{2, size_t{1} << 20});
    walk.Run(kRoot, Utf8(kRoot), recorder);
    const std::vector<std::string> unlistable = ReferenceLines(tree);
    EXPECT_TRUE(recorder.Lines() == listed_before || recorder.Lines() == unlistable) << "seed " << seed;
    EXPECT_NE(listed_before, unlistable);
  }
}

// A visitor that throws (the event sink failed, or memory ran out) ends the walk; its listing
// threads end with it and no listing is left open. A listing thread is made to be in the middle
// of a listing when the visitor throws: the walk's far-off "chain" folder, read ahead, is held
// until then.
TEST(ReadAheadWalkTest, ListingThreadsEndWhenTheVisitorThrows) {
  FakeTree tree;
  FillIrregularDrive(tree, 2);
  DelayingLister lister(tree, 2);
  lister.HoldListingOf(Child(kRoot, L"chain"));
  Recorder recorder([&lister](const std::wstring&, int opening) -> FolderAccess {
    if (opening == 30) {
      lister.WaitUntilHeld();
      lister.ReleaseHeldListing();
      throw std::runtime_error("the sink failed");
    }
    return FolderAccess::kListable;
  });
  ReadAheadWalk walk(lister.Lister(), WalkOptions{4, size_t{32} << 20});
  EXPECT_THROW(walk.Run(kRoot, Utf8(kRoot), recorder), std::runtime_error);
  EXPECT_EQ(lister.ListingsInProgress(), 0) << "a listing thread still runs after the walk";
}

// Cancel from another thread at any moment, also while the walk waits for a listing in
// progress: the walk stops, with its listing threads, after reporting a beginning of the stream.
TEST(ReadAheadWalkTest, CancelFromAnotherThreadAtAnyMomentLeavesABeginningOfTheStream) {
  FakeTree tree;
  FillIrregularDrive(tree, 9);
  const std::vector<std::string> full = ReferenceLines(tree);
  for (int round = 0; round < 20; ++round) {
    DelayingLister lister(tree, static_cast<uint32_t>(round));
    Recorder recorder;
    ReadAheadWalk walk(lister.Lister(), WalkOptions{2, size_t{32} << 20});
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
      walk.Cancel();
    });
    walk.Run(kRoot, Utf8(kRoot), recorder);
    EXPECT_EQ(lister.ListingsInProgress(), 0);
    canceller.join();
    // What was reported is the full stream up to where the walk saw the cancellation, then the
    // folders still open closed with what they counted so far: exactly what the walk one folder
    // at a time reports when cancelled there. Where that was is read off the lines themselves,
    // as the longest beginning they share with the full stream (a folder closed early whose count
    // happens to be complete only moves it along the closing lines, which end the same).
    const std::vector<std::string>& lines = recorder.Lines();
    const size_t shared = static_cast<size_t>(
        std::mismatch(lines.begin(), lines.end(), full.begin(), full.end()).first - lines.begin());
    EXPECT_EQ(lines, ReferenceLinesCancelledAfter(tree, shared))
        << "round " << round << ": not the full stream cut where the walk stopped, after " << shared
        << " lines of it";
  }
}

}  // namespace
}  // namespace pel_mora
