#include "cli/report/scan_summary.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableValue;
using testing::BatchEvent;
using testing::CancelledEvent;
using testing::CompletedEvent;
using testing::FileEntry;
using testing::FolderEntry;
using testing::InaccessibleEntry;
using testing::StartedEvent;

std::vector<std::string> Paths(const std::vector<ScanEntry>& entries) {
  std::vector<std::string> paths;
  for (const ScanEntry& entry : entries) {
    paths.push_back(entry.path + "=" + std::to_string(entry.size_bytes));
  }
  return paths;
}

TEST(ScanSummaryTest, KeepsOnlyTheLargestEntriesInOrder) {
  ScanSummary summary(3);
  summary.Add(StartedEvent("T:\\"));
  // Arrival order mixed, a tie whose later arrival sorts first, more files than the list holds.
  EncodableList entries{FileEntry("T:\\e", 5), FileEntry("T:\\b", 50), FileEntry("T:\\g", 1), FileEntry("T:\\c", 40),
                        FileEntry("T:\\a", 50), FileEntry("T:\\f", 7), FileEntry("T:\\d", 30)};
  entries.push_back(FolderEntry("T:\\small", 10));
  entries.push_back(FolderEntry("T:\\big", 1000));
  summary.Add(BatchEvent(entries, 7, 2, 183));

  EXPECT_THAT(Paths(summary.LargestFiles()), ::testing::ElementsAre("T:\\a=50", "T:\\b=50", "T:\\c=40"));
  EXPECT_THAT(Paths(summary.LargestFolders()), ::testing::ElementsAre("T:\\big=1000", "T:\\small=10"));
}

TEST(ScanSummaryTest, TopListOverManyBatchesMatchesAFullSort) {
  ScanSummary summary;  // 20 entries per list
  summary.Add(StartedEvent("T:\\"));
  std::vector<int64_t> all_sizes;
  for (int batch = 0; batch < 5; ++batch) {
    EncodableList entries;
    for (int index = 0; index < 1000; ++index) {
      const int64_t size = (index * 7919 + batch * 104729) % 5003;
      all_sizes.push_back(size);
      entries.push_back(FileEntry("T:\\" + std::to_string(batch) + "\\" + std::to_string(index), size));
    }
    summary.Add(BatchEvent(entries, (batch + 1) * 1000, 0, 0));
  }
  std::sort(all_sizes.rbegin(), all_sizes.rend());
  std::vector<int64_t> largest_sizes;
  for (const ScanEntry& entry : summary.LargestFiles()) {
    largest_sizes.push_back(entry.size_bytes);
  }
  EXPECT_EQ(largest_sizes, std::vector<int64_t>(all_sizes.begin(), all_sizes.begin() + 20));
  EXPECT_EQ(summary.entries_received(), 5000u);
  EXPECT_EQ(summary.reported_counts().files, 5000u);
}

TEST(ScanSummaryTest, CompletedTotalsComeFromTheCompletedEvent) {
  ScanSummary summary;
  summary.Add(StartedEvent("T:\\"));
  summary.Add(BatchEvent({FileEntry("T:\\a", 10), FolderEntry("T:\\d", 10)}, 1, 1, 10));
  EXPECT_EQ(summary.state(), ScanState::kRunning);
  EXPECT_EQ(summary.Add(CompletedEvent(1, 1, 10, 42)), ScanEventType::kCompleted);
  EXPECT_EQ(summary.state(), ScanState::kCompleted);
  EXPECT_EQ(summary.totals().files, 1u);
  EXPECT_EQ(summary.totals().folders, 1u);
  EXPECT_EQ(summary.totals().bytes, 10u);
  EXPECT_EQ(summary.duration_ms(), 42);
  // Nothing after the end changes the result.
  summary.Add(BatchEvent({FileEntry("T:\\late", 999)}, 2, 1, 1009));
  summary.Add(CancelledEvent());
  EXPECT_EQ(summary.state(), ScanState::kCompleted);
  EXPECT_EQ(summary.LargestFiles().size(), 1u);
}

TEST(ScanSummaryTest, CancelledTotalsAddUpTheEntriesReceived) {
  ScanSummary summary;
  summary.Add(StartedEvent("T:\\"));
  // An unreadable folder is reported twice: once inaccessible, once by its parent.
  summary.Add(BatchEvent({FileEntry("T:\\a\\x", 100), FileEntry("T:\\a\\y", 23), InaccessibleEntry("T:\\a\\locked"),
                          FolderEntry("T:\\a\\locked", 0), FolderEntry("T:\\a", 123)},
                         2, 2, 123));
  EXPECT_EQ(summary.Add(CancelledEvent()), ScanEventType::kCancelled);
  EXPECT_EQ(summary.state(), ScanState::kCancelled);
  EXPECT_EQ(summary.totals().files, 2u);
  EXPECT_EQ(summary.totals().folders, 2u);
  EXPECT_EQ(summary.totals().bytes, 123u);
  EXPECT_EQ(summary.unreadable_folders(), 1u);
  EXPECT_FALSE(summary.root_unreadable());
  EXPECT_FALSE(summary.duration_ms().has_value());
}

TEST(ScanSummaryTest, UnreadableRootIsRecognised) {
  ScanSummary summary;
  summary.Add(StartedEvent("Q:\\"));
  summary.Add(BatchEvent({InaccessibleEntry("Q:\\")}, 0, 0, 0));
  summary.Add(CompletedEvent(0, 0, 0, 1));
  EXPECT_TRUE(summary.root_unreadable());
  EXPECT_TRUE(summary.LargestFolders().empty());
}

TEST(ScanSummaryTest, IgnoresEventsOutsideTheScanAndMalformedFields) {
  ScanSummary summary;
  EXPECT_EQ(summary.Add(BatchEvent({FileEntry("T:\\early", 5)}, 1, 0, 5)), ScanEventType::kOther);
  EXPECT_EQ(summary.Add(EncodableValue("not a map")), ScanEventType::kOther);
  EXPECT_EQ(summary.state(), ScanState::kWaiting);
  summary.Add(StartedEvent("T:\\"));
  // Wrong types read as defaults; int32 counters are as good as int64 ones.
  flutter::EncodableMap odd;
  odd[EncodableValue("type")] = EncodableValue("batch");
  odd[EncodableValue("entries")] = EncodableValue("not a list");
  odd[EncodableValue("filesScanned")] = EncodableValue(int32_t{3});
  odd[EncodableValue("totalBytes")] = EncodableValue("many");
  EXPECT_EQ(summary.Add(EncodableValue(odd)), ScanEventType::kBatch);
  EXPECT_EQ(summary.reported_counts().files, 3u);
  EXPECT_EQ(summary.reported_counts().bytes, 0u);
  EXPECT_EQ(summary.entries_received(), 0u);
}

}  // namespace
}  // namespace pel_mora::cli
