#include "plugin/drives/drive_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using test_support::FixtureDrive;

// Generous: a scan of a few thousand fixture files takes well under a second.
constexpr auto kWaitLimit = std::chrono::seconds(120);

// Records every event a scanner delivers.
class EventRecorder {
 public:
  DriveScanner::ScanEventCallback Callback() {
    return [this](const EncodableValue& event) {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
      changed_.notify_all();
    };
  }

  // Waits until `count` scans have sent "completed" or "cancelled"; returns every event so far.
  std::vector<EncodableValue> WaitForEnds(size_t count = 1) {
    std::unique_lock lock(mutex_);
    const bool ended = changed_.wait_for(lock, kWaitLimit, [&] { return CountEnds() >= count; });
    EXPECT_TRUE(ended) << "the scan did not end";
    return events_;
  }

  std::vector<EncodableValue> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  size_t CountEnds() const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<EncodableValue> events_;
};

// The scanner's folder-open hook, driven by the test: it can hold the walk at the n-th folder
// opening (counted over all scans of the scanner), deny chosen paths, and tell when the scans
// that hold copies of it have ended (each scan copies the hook and drops it with its state).
class FolderGate {
 public:
  FolderGate() : state_(std::make_shared<State>()) {}
  ~FolderGate() { Release(); }

  DriveScanner::FolderOpenHook Hook() const { return Copy(state_); }

  void HoldAtOpening(int number) {
    std::lock_guard lock(state_->mutex);
    state_->hold_at = number;
  }
  void Deny(const std::wstring& path) {
    std::lock_guard lock(state_->mutex);
    state_->denied.insert(path);
  }
  void WaitUntilHeld() {
    std::unique_lock lock(state_->mutex);
    EXPECT_TRUE(state_->changed.wait_for(lock, kWaitLimit, [&] { return state_->holding; }))
        << "the walk never reached the held folder";
  }
  void Release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
  }
  // Waits until exactly `count` copies of the hook are alive.
  void WaitForCopies(int count) {
    std::unique_lock lock(state_->mutex);
    EXPECT_TRUE(state_->changed.wait_for(lock, kWaitLimit, [&] { return state_->copies == count; }))
        << "copies alive: " << state_->copies << ", expected " << count;
  }
  std::vector<std::wstring> Opened() {
    std::lock_guard lock(state_->mutex);
    return state_->opened;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int hold_at = 0;
    bool holding = false;
    bool released = false;
    int copies = 0;
    std::set<std::wstring> denied;
    std::vector<std::wstring> opened;
  };

  // One live object per copy the scanner or a scan keeps.
  class Copy {
   public:
    explicit Copy(std::shared_ptr<State> state) : state_(std::move(state)) { Count(+1); }
    Copy(const Copy& other) : state_(other.state_) { Count(+1); }
    Copy(Copy&& other) noexcept : state_(other.state_) { Count(+1); }
    Copy& operator=(const Copy&) = delete;
    ~Copy() { Count(-1); }

    FolderAccess operator()(const std::wstring& path) const {
      std::unique_lock lock(state_->mutex);
      state_->opened.push_back(path);
      if (static_cast<int>(state_->opened.size()) == state_->hold_at) {
        state_->holding = true;
        state_->changed.notify_all();
        state_->changed.wait(lock, [&] { return state_->released; });
      }
      return state_->denied.count(path) != 0 ? FolderAccess::kDenied : FolderAccess::kListable;
    }

   private:
    void Count(int change) {
      std::lock_guard lock(state_->mutex);
      state_->copies += change;
      state_->changed.notify_all();
    }
    std::shared_ptr<State> state_;
  };

  std::shared_ptr<State> state_;
};

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

const EncodableMap& AsMap(const EncodableValue& value) {
  static const EncodableMap empty;
  const auto* map = std::get_if<EncodableMap>(&value);
  EXPECT_NE(map, nullptr) << "not a map";
  return map != nullptr ? *map : empty;
}

const EncodableValue* Find(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

template <typename T>
T Get(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  if (value == nullptr) {
    ADD_FAILURE() << "missing key " << key;
    return T();
  }
  const T* typed = std::get_if<T>(value);
  if (typed == nullptr) {
    ADD_FAILURE() << "key " << key << " holds variant index " << value->index();
    return T();
  }
  return *typed;
}

std::string TypeOf(const EncodableValue& event) { return Get<std::string>(AsMap(event), "type"); }

size_t EventRecorder::CountEnds() const {
  return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), [](const EncodableValue& event) {
    const auto* map = std::get_if<EncodableMap>(&event);
    const EncodableValue* type = map != nullptr ? Find(*map, "type") : nullptr;
    return type != nullptr && (*type == EncodableValue("completed") || *type == EncodableValue("cancelled"));
  }));
}

std::vector<std::string> Types(const std::vector<EncodableValue>& events) {
  std::vector<std::string> types;
  for (const EncodableValue& event : events) {
    types.push_back(TypeOf(event));
  }
  return types;
}

// One entry record, after checking that it carries exactly the keys of its kind, with their types.
struct Entry {
  std::string path;
  std::string name;
  int64_t size_bytes = 0;
  bool is_directory = false;
  bool is_accessible = false;
  std::optional<int64_t> modified_time;
  std::optional<std::string> extension;
};

Entry ParseEntry(const EncodableValue& value) {
  const EncodableMap& map = AsMap(value);
  Entry entry{Get<std::string>(map, "path"), Get<std::string>(map, "name"), Get<int64_t>(map, "sizeBytes"),
              Get<bool>(map, "isDirectory"), Get<bool>(map, "isAccessible"), std::nullopt, std::nullopt};
  if (Find(map, "modifiedTime") != nullptr) {
    entry.modified_time = Get<int64_t>(map, "modifiedTime");
  }
  if (Find(map, "extension") != nullptr) {
    entry.extension = Get<std::string>(map, "extension");
  }
  // Files carry both optional keys, folders only the time, unlistable folders neither.
  EXPECT_EQ(entry.modified_time.has_value(), entry.is_accessible) << entry.path;
  EXPECT_EQ(entry.extension.has_value(), !entry.is_directory) << entry.path;
  EXPECT_EQ(map.size(), 5u + entry.modified_time.has_value() + entry.extension.has_value()) << entry.path;
  return entry;
}

// The entries of every batch, in the order they were sent.
std::vector<Entry> Entries(const std::vector<EncodableValue>& events) {
  std::vector<Entry> entries;
  for (const EncodableValue& event : events) {
    if (TypeOf(event) != "batch") {
      continue;
    }
    for (const EncodableValue& entry : Get<EncodableList>(AsMap(event), "entries")) {
      entries.push_back(ParseEntry(entry));
    }
  }
  return entries;
}

std::vector<Entry>::const_iterator FindFirst(const std::vector<Entry>& entries, const std::string& path) {
  return std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.path == path; });
}

const Entry* FindByPath(const std::vector<Entry>& entries, const std::string& path) {
  const auto found = FindFirst(entries, path);
  return found == entries.end() ? nullptr : &*found;
}

ptrdiff_t PositionOf(const std::vector<Entry>& entries, const std::string& path) {
  const auto found = FindFirst(entries, path);
  EXPECT_NE(found, entries.end()) << "no entry for " << path;
  return found - entries.begin();
}

void ExpectStarted(const EncodableValue& event, const FixtureDrive& drive) {
  const EncodableMap& map = AsMap(event);
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(Get<std::string>(map, "type"), "started");
  EXPECT_EQ(Get<std::string>(map, "root"), Utf8(drive.Root()));
}

void ExpectCompleted(const EncodableValue& event, int64_t files, int64_t folders, int64_t bytes) {
  const EncodableMap& map = AsMap(event);
  EXPECT_EQ(map.size(), 5u);
  EXPECT_EQ(Get<std::string>(map, "type"), "completed");
  EXPECT_EQ(Get<int64_t>(map, "totalFiles"), files);
  EXPECT_EQ(Get<int64_t>(map, "totalFolders"), folders);
  EXPECT_EQ(Get<int64_t>(map, "totalBytes"), bytes);
  EXPECT_GE(Get<int64_t>(map, "durationMs"), 0);
}

void ExpectCancelled(const EncodableValue& event) {
  EXPECT_EQ(AsMap(event), (EncodableMap{{EncodableValue("type"), EncodableValue("cancelled")}}));
}

// Scans `drive` to its end with a scanner of its own.
std::vector<EncodableValue> ScanToEnd(const FixtureDrive& drive, FolderGate* gate = nullptr,
                                      ScanListing listing = ScanListing::kReadAhead) {
  EventRecorder recorder;
  DriveScanner scanner(recorder.Callback(), gate != nullptr ? gate->Hook() : DriveScanner::FolderOpenHook(), listing);
  scanner.Start(drive.Letter());
  return recorder.WaitForEnds();
}

// The events with "durationMs" taken out: the one value in which two scans of an unchanged drive
// may differ.
std::vector<EncodableValue> WithoutDuration(std::vector<EncodableValue> events) {
  for (EncodableValue& event : events) {
    if (auto* map = std::get_if<EncodableMap>(&event)) {
      map->erase(EncodableValue("durationMs"));
    }
  }
  return events;
}

// A Windows file time for a Unix time, plus `extra_ticks` below one second.
uint64_t FileTimeOf(int64_t unix_seconds, uint64_t extra_ticks = 0) {
  return static_cast<uint64_t>(unix_seconds + 11'644'473'600) * 10'000'000 + extra_ticks;
}

TEST(DriveScannerTest, EmptyRootSendsStartedThenCompletedWithZeros) {
  const FixtureDrive drive;
  const auto events = ScanToEnd(drive);
  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "completed"}));
  ExpectStarted(events[0], drive);
  ExpectCompleted(events[1], 0, 0, 0);
}

TEST(DriveScannerTest, FilesGoOutInBatchesOfAThousandWithTheCountersOfTheirMoment) {
  const FixtureDrive drive;
  int64_t expected_bytes = 0;
  for (int index = 0; index < 2500; ++index) {
    drive.AddFile(L"file" + std::to_wstring(index) + L".dat", index % 7);
    expected_bytes += index % 7;
  }
  const auto events = ScanToEnd(drive);

  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "batch", "batch", "completed"}));
  int64_t bytes_so_far = 0;
  int64_t files_so_far = 0;
  std::set<std::string> names;
  for (size_t index = 1; index <= 3; ++index) {
    const EncodableMap& batch = AsMap(events[index]);
    EXPECT_EQ(batch.size(), 5u);
    const auto& entries = Get<EncodableList>(batch, "entries");
    EXPECT_EQ(entries.size(), index < 3 ? 1000u : 500u);
    for (const EncodableValue& value : entries) {
      const Entry entry = ParseEntry(value);
      EXPECT_FALSE(entry.is_directory);
      EXPECT_EQ(entry.path, Utf8(drive.Root()) + entry.name);
      EXPECT_EQ(entry.extension, "dat");
      bytes_so_far += entry.size_bytes;
      names.insert(entry.name);
    }
    files_so_far += static_cast<int64_t>(entries.size());
    EXPECT_EQ(Get<int64_t>(batch, "filesScanned"), files_so_far);
    EXPECT_EQ(Get<int64_t>(batch, "foldersScanned"), 0);
    EXPECT_EQ(Get<int64_t>(batch, "totalBytes"), bytes_so_far);
  }
  EXPECT_EQ(names.size(), 2500u);
  EXPECT_EQ(bytes_so_far, expected_bytes);
  ExpectCompleted(events[4], 2500, 0, expected_bytes);
}

TEST(DriveScannerTest, FolderSizesAddUpBottomUpAndEachFolderFollowsItsContents) {
  const FixtureDrive drive;
  drive.AddFile(L"top.bin", 50);
  drive.AddFolder(L"a");
  drive.AddFile(L"a\\one.bin", 100);
  drive.AddFolder(L"a\\b");
  drive.AddFile(L"a\\b\\two.bin", 200);
  drive.AddFile(L"a\\b\\three.bin", 300);
  // Set last, since adding to a folder changes its time.
  drive.SetLastWriteTime(L"a\\b", FileTimeOf(1'600'000'000));
  drive.SetLastWriteTime(L"a\\one.bin", FileTimeOf(1'234'567'890, 9'999'999));

  const auto events = ScanToEnd(drive);
  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "completed"}));
  ExpectCompleted(events[2], 4, 2, 650);
  const std::vector<Entry> entries = Entries(events);
  ASSERT_EQ(entries.size(), 6u);

  const std::string root = Utf8(drive.Root());
  const Entry* a = FindByPath(entries, root + "a");
  const Entry* b = FindByPath(entries, root + "a\\b");
  const Entry* one = FindByPath(entries, root + "a\\one.bin");
  const Entry* two = FindByPath(entries, root + "a\\b\\two.bin");
  ASSERT_TRUE(a && b && one && two && FindByPath(entries, root + "top.bin"));
  EXPECT_TRUE(a->is_directory && a->is_accessible);
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(a->size_bytes, 600);
  EXPECT_EQ(b->size_bytes, 500);
  EXPECT_EQ(b->name, "b");
  EXPECT_EQ(two->name, "two.bin");
  EXPECT_EQ(two->size_bytes, 200);
  EXPECT_EQ(b->modified_time, 1'600'000'000);
  EXPECT_EQ(one->modified_time, 1'234'567'890);  // The fraction of a second is cut off.

  EXPECT_LT(PositionOf(entries, root + "a\\b\\two.bin"), PositionOf(entries, root + "a\\b"));
  EXPECT_LT(PositionOf(entries, root + "a\\b\\three.bin"), PositionOf(entries, root + "a\\b"));
  EXPECT_LT(PositionOf(entries, root + "a\\b"), PositionOf(entries, root + "a"));
  EXPECT_LT(PositionOf(entries, root + "a\\one.bin"), PositionOf(entries, root + "a"));
}

TEST(DriveScannerTest, ExtensionIsTheLowerCaseTextAfterTheLastDot) {
  struct Case {
    const wchar_t* name;
    const char* extension;
  };
  const Case cases[] = {
      {L"Report.PDF", "pdf"},       {L"README", ""},
      {L".bashrc", ""},             {L"archive.Tar.GZ", "gz"},
      {L"trailing.", ""},           {L"r\u00e9sum\u00e9.Txt", "txt"},
      {L"x.\u00e9T\u00e9", "\xc3\xa9t\xc3\xa9"},  {L"\U0001F600 smile.PNG", "png"},
  };
  const FixtureDrive drive;
  for (const Case& test_case : cases) {
    drive.AddFile(test_case.name, 1);
  }
  const std::vector<Entry> entries = Entries(ScanToEnd(drive));
  ASSERT_EQ(entries.size(), std::size(cases));
  for (const Case& test_case : cases) {
    const std::string name = Utf8(test_case.name);
    SCOPED_TRACE(name);
    const Entry* entry = FindByPath(entries, Utf8(drive.Root()) + name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, name);
    EXPECT_EQ(entry->extension, test_case.extension);
  }
}

TEST(DriveScannerTest, LinkToAFolderIsNeitherListedNorEntered) {
  const FixtureDrive drive;
  drive.AddFolder(L"real");
  drive.AddFile(L"real\\inside.bin", 7);
  drive.AddUnixSymlink(L"shortcut", L"real");
  FolderGate gate;

  const auto events = ScanToEnd(drive, &gate);
  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "completed"}));
  ExpectCompleted(events[2], 1, 1, 7);
  const std::string root = Utf8(drive.Root());
  std::vector<std::string> paths;
  for (const Entry& entry : Entries(events)) {
    paths.push_back(entry.path);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{root + "real\\inside.bin", root + "real"}));
  EXPECT_EQ(gate.Opened(), (std::vector<std::wstring>{drive.Root(), drive.PathOf(L"real")}));
}

TEST(DriveScannerTest, FolderDeeperThanSixtyFourLevelsIsListedButNotOpened) {
  const FixtureDrive drive;
  std::wstring relative;
  std::vector<std::wstring> chain;  // chain[k - 1] is the folder at depth k.
  for (int depth = 1; depth <= 66; ++depth) {
    relative += depth == 1 ? L"d" : L"\\d";
    drive.AddFolder(relative);
    chain.push_back(relative);
  }
  drive.AddFile(chain[63] + L"\\at64.bin", 64);
  drive.AddFile(chain[64] + L"\\at65.bin", 65);

  const auto events = ScanToEnd(drive);
  ASSERT_FALSE(events.empty());
  ExpectCompleted(events.back(), 1, 65, 64);
  const std::vector<Entry> entries = Entries(events);
  ASSERT_EQ(entries.size(), 66u);
  EXPECT_EQ(entries[0].path, Utf8(drive.PathOf(chain[63] + L"\\at64.bin")));
  // The innermost folder comes first; the folder at depth 65 is there, with nothing counted in it.
  EXPECT_EQ(entries[1].path, Utf8(drive.PathOf(chain[64])));
  EXPECT_EQ(entries[1].size_bytes, 0);
  EXPECT_EQ(entries[2].path, Utf8(drive.PathOf(chain[63])));
  EXPECT_EQ(entries[2].size_bytes, 64);
  EXPECT_EQ(entries.back().path, Utf8(drive.PathOf(chain[0])));
  EXPECT_EQ(entries.back().size_bytes, 64);
}

TEST(DriveScannerTest, CancelDuringTheWalkSendsTheHeldEntriesThenCancelled) {
  const FixtureDrive drive;
  for (const wchar_t* folder : {L"a", L"b"}) {
    drive.AddFolder(folder);
    for (int index = 0; index < 1500; ++index) {
      drive.AddFile(std::wstring(folder) + L"\\f" + std::to_wstring(index), 1);
    }
  }
  EventRecorder recorder;
  FolderGate gate;
  // Openings: the root, the first folder, then the second folder, held until cancelled.
  gate.HoldAtOpening(3);
  DriveScanner scanner(recorder.Callback(), gate.Hook());
  scanner.Start(drive.Letter());
  gate.WaitUntilHeld();
  scanner.Cancel();
  gate.Release();
  const auto events = recorder.WaitForEnds();

  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "batch", "cancelled"}));
  ExpectCancelled(events.back());
  const std::vector<Entry> entries = Entries(events);
  ASSERT_EQ(entries.size(), 1502u);
  // The folder walked in full, then the one the cancel stopped, with the size summed so far.
  EXPECT_TRUE(entries[1500].is_directory);
  EXPECT_EQ(entries[1500].size_bytes, 1500);
  EXPECT_TRUE(entries[1501].is_directory);
  EXPECT_EQ(entries[1501].size_bytes, 0);
  EXPECT_EQ(Get<int64_t>(AsMap(events[2]), "filesScanned"), 1500);
  EXPECT_EQ(Get<int64_t>(AsMap(events[2]), "foldersScanned"), 2);
}

TEST(DriveScannerTest, CancelBeforeTheRootIsOpenedSendsOnlyStartedAndCancelled) {
  const FixtureDrive drive;
  drive.AddFile(L"file.bin", 1);
  EventRecorder recorder;
  FolderGate gate;
  gate.HoldAtOpening(1);
  DriveScanner scanner(recorder.Callback(), gate.Hook());
  scanner.Start(drive.Letter());
  gate.WaitUntilHeld();
  scanner.Cancel();
  gate.Release();
  const auto events = recorder.WaitForEnds();

  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "cancelled"}));
  ExpectStarted(events[0], drive);
  ExpectCancelled(events[1]);
}

TEST(DriveScannerTest, UnlistableFolderIsReportedAsInaccessibleThenAsAnEmptyFolder) {
  const FixtureDrive drive;
  drive.AddFile(L"top.bin", 3);
  drive.AddFolder(L"locked");
  drive.AddFile(L"locked\\hidden.bin", 1000);
  drive.AddFolder(L"open");
  drive.AddFile(L"open\\seen.bin", 10);
  FolderGate gate;
  gate.Deny(drive.PathOf(L"locked"));

  const auto events = ScanToEnd(drive, &gate);
  ASSERT_FALSE(events.empty());
  ExpectCompleted(events.back(), 2, 2, 13);
  const std::vector<Entry> entries = Entries(events);
  const std::string locked = Utf8(drive.PathOf(L"locked"));
  const auto first = FindFirst(entries, locked);
  ASSERT_NE(first, entries.end());
  ASSERT_NE(first + 1, entries.end());
  const Entry& inaccessible = first[0];
  const Entry& folder = first[1];
  EXPECT_EQ(inaccessible.name, "locked");
  EXPECT_TRUE(inaccessible.is_directory);
  EXPECT_FALSE(inaccessible.is_accessible);
  EXPECT_EQ(inaccessible.size_bytes, 0);
  EXPECT_EQ(folder.path, locked);
  EXPECT_TRUE(folder.is_directory);
  EXPECT_TRUE(folder.is_accessible);
  EXPECT_EQ(folder.size_bytes, 0);
  EXPECT_EQ(FindByPath(entries, locked + "\\hidden.bin"), nullptr);
  EXPECT_EQ(entries.size(), 5u);  // top.bin, locked twice, seen.bin, open.
}

TEST(DriveScannerTest, UnlistableRootGivesOneEntryWithoutANameAndZeroTotals) {
  const FixtureDrive drive;
  drive.AddFile(L"file.bin", 5);
  FolderGate gate;
  gate.Deny(drive.Root());

  const auto events = ScanToEnd(drive, &gate);
  ASSERT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "completed"}));
  const std::vector<Entry> entries = Entries(events);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, Utf8(drive.Root()));
  EXPECT_EQ(entries[0].name, "");
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_FALSE(entries[0].is_accessible);
  EXPECT_EQ(entries[0].size_bytes, 0);
  ExpectCompleted(events[2], 0, 0, 0);
}

TEST(DriveScannerTest, SecondStartCutsTheFirstScanOffAtOnce) {
  const FixtureDrive first_drive;
  const FixtureDrive second_drive;
  for (int index = 0; index < 20; ++index) {
    first_drive.AddFile(L"old" + std::to_wstring(index), 100);
  }
  second_drive.AddFolder(L"new");
  second_drive.AddFile(L"new\\file.bin", 9);
  EventRecorder recorder;
  FolderGate gate;
  gate.HoldAtOpening(1);  // The first scan's root.
  DriveScanner scanner(recorder.Callback(), gate.Hook());

  scanner.Start(first_drive.Letter());
  gate.WaitUntilHeld();
  scanner.Start(second_drive.Letter());
  gate.Release();
  const auto events = recorder.WaitForEnds();
  // Only the scanner's own copy of the hook and the current scan's remain once the first scan's
  // thread has ended; after that it can send nothing more.
  gate.WaitForCopies(2);

  const auto all_events = recorder.Events();
  ASSERT_EQ(Types(all_events), (std::vector<std::string>{"started", "started", "batch", "completed"}));
  ExpectStarted(all_events[0], first_drive);
  ExpectStarted(all_events[1], second_drive);
  for (const Entry& entry : Entries(all_events)) {
    EXPECT_EQ(entry.path.rfind(Utf8(second_drive.Root()), 0), 0u) << entry.path;
  }
  // The counters are the second scan's alone.
  ExpectCompleted(all_events[3], 1, 1, 9);
}

TEST(DriveScannerTest, DestroyedScannerNeverCallsItsCallbackAgain) {
  const FixtureDrive drive;
  drive.AddFolder(L"a");
  for (int index = 0; index < 10; ++index) {
    drive.AddFile(L"a\\f" + std::to_wstring(index), 1);
  }
  EventRecorder recorder;
  FolderGate gate;
  gate.HoldAtOpening(2);  // Inside the walk, after the root was opened.
  auto scanner = std::make_unique<DriveScanner>(recorder.Callback(), gate.Hook());
  scanner->Start(drive.Letter());
  gate.WaitUntilHeld();

  scanner.reset();
  const size_t events_at_destruction = recorder.Events().size();
  gate.Release();
  gate.WaitForCopies(0);  // The orphaned scan's thread has ended.

  EXPECT_EQ(events_at_destruction, 1u);
  EXPECT_EQ(Types(recorder.Events()), (std::vector<std::string>{"started"}));
}

TEST(DriveScannerTest, CallbackThatThrowsEndsTheScanWithCancelled) {
  const FixtureDrive drive;
  for (int index = 0; index < 1200; ++index) {
    drive.AddFile(L"f" + std::to_wstring(index), 1);
  }
  EventRecorder recorder;
  const DriveScanner::ScanEventCallback record = recorder.Callback();
  // The scan thread is where the exception has to stop; escaping it would end the process.
  DriveScanner scanner([&record](const EncodableValue& event) {
    record(event);
    if (TypeOf(event) == "batch") {
      throw std::runtime_error("the sink failed");
    }
  });
  scanner.Start(drive.Letter());
  const auto events = recorder.WaitForEnds();
  EXPECT_EQ(Types(events), (std::vector<std::string>{"started", "batch", "cancelled"}));
}

// A drive of uneven shape: folders of none to dozens of files next to one of 1,300, empty
// folders, a chain of folders deeper than the depth bound with a file at each level, names in
// several scripts and a link to a folder.
void FillIrregularDrive(const FixtureDrive& drive) {
  drive.AddFolder(L"wide");
  for (int index = 0; index < 30; ++index) {
    const std::wstring folder = L"wide\\w" + std::to_wstring(index);
    drive.AddFolder(folder);
    for (int file = 0; file < (index * index) % 37; ++file) {
      drive.AddFile(folder + L"\\f" + std::to_wstring(file) + L".Txt", static_cast<uint64_t>(index * 100 + file));
    }
    if (index % 4 == 0) {
      drive.AddFolder(folder + L"\\inner");
      drive.AddFile(folder + L"\\inner\\deep.bin", 5);
    }
  }
  drive.AddFolder(L"big");
  for (int file = 0; file < 1300; ++file) {
    drive.AddFile(L"big\\b" + std::to_wstring(file), static_cast<uint64_t>(file % 13));
  }
  drive.AddFolder(L"empty");
  drive.AddFolder(L"empty\\also empty");
  std::wstring chain = L"c";
  drive.AddFolder(chain);
  for (int depth = 2; depth <= 67; ++depth) {
    chain += L"\\c";
    drive.AddFolder(chain);
    drive.AddFile(chain + L"\\at" + std::to_wstring(depth), static_cast<uint64_t>(depth));
  }
  drive.AddFolder(L"\u00e9t\u00e9 \u65e5\u672c");
  drive.AddFile(L"\u00e9t\u00e9 \u65e5\u672c\\\U0001F600 r\u00e9sum\u00e9.PDF", 77);
  drive.AddUnixSymlink(L"wide\\link to big", L"big");
  drive.AddFile(L"top.bin", 1);
}

TEST(DriveScannerTest, ReadAheadScanSendsExactlyTheEventsOfAScanOneFolderAtATime) {
  const FixtureDrive drive;
  FillIrregularDrive(drive);
  FolderGate gate;
  gate.Deny(drive.PathOf(L"wide\\w3"));
  const auto expected = WithoutDuration(ScanToEnd(drive, &gate, ScanListing::kOneFolderAtATime));
  // The reference covers what it should: several batches, the unlistable folder, the depth bound.
  ASSERT_GE(Types(expected).size(), 5u);
  const std::vector<Entry> entries = Entries(expected);
  const std::string denied = Utf8(drive.PathOf(L"wide\\w3"));
  const auto inaccessible = FindFirst(entries, denied);
  ASSERT_NE(inaccessible, entries.end());
  EXPECT_FALSE(inaccessible->is_accessible);
  EXPECT_EQ(FindByPath(entries, Utf8(drive.PathOf(L"wide\\link to big"))), nullptr);

  // Listing threads finish in a different order on every run.
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto events = WithoutDuration(ScanToEnd(drive, &gate, ScanListing::kReadAhead));
    ASSERT_EQ(events.size(), expected.size());
    for (size_t index = 0; index < events.size(); ++index) {
      ASSERT_EQ(events[index], expected[index]) << "event " << index << " differs";
    }
  }
}

// A folder that goes away while the scan runs is reported either as its listing showed it
// before it went, or as a folder that could not be listed: both are what a scan one folder at a
// time reports, depending on when the folder goes.
TEST(DriveScannerTest, FolderRemovedDuringTheScanIsReportedAsListedBeforeOrAsUnlistable) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const FixtureDrive drive;
    drive.AddFolder(L"first");
    for (int file = 0; file < 300; ++file) {
      drive.AddFile(L"first\\f" + std::to_wstring(file), 1);
    }
    drive.AddFolder(L"doomed");
    for (int file = 0; file < 30; ++file) {
      drive.AddFile(L"doomed\\g" + std::to_wstring(file), 10);
    }
    drive.AddFile(L"after.bin", 3);
    const auto listed_before = WithoutDuration(ScanToEnd(drive, nullptr, ScanListing::kOneFolderAtATime));
    FolderGate gate;
    gate.Deny(drive.PathOf(L"doomed"));
    const auto unlistable = WithoutDuration(ScanToEnd(drive, &gate, ScanListing::kOneFolderAtATime));
    ASSERT_NE(listed_before, unlistable);

    // The folder goes (renamed out of the way at once, so no listing sees half of it) as the
    // walk enters "first", after the root was listed.
    const std::wstring first = drive.PathOf(L"first");
    const std::wstring doomed = drive.PathOf(L"doomed");
    const std::wstring gone = drive.PathOf(L"gone");
    EventRecorder recorder;
    DriveScanner scanner(recorder.Callback(), [&](const std::wstring& path) {
      if (path == first) {
        std::filesystem::rename(doomed, gone);
      }
      return FolderAccess::kListable;
    });
    scanner.Start(drive.Letter());
    const auto events = WithoutDuration(recorder.WaitForEnds());
    EXPECT_TRUE(events == listed_before || events == unlistable);
  }
}

}  // namespace
}  // namespace pel_mora
