#include "cli/browser/scan_tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using testing::BatchEvent;
using testing::CompletedEvent;
using testing::FileEntry;
using testing::FolderEntry;
using testing::InaccessibleEntry;
using testing::StartedEvent;

EncodableValue Dated(EncodableValue entry, int64_t modified) {
  std::get<EncodableMap>(entry)[EncodableValue("modifiedTime")] = EncodableValue(modified);
  return entry;
}

std::vector<std::string> Names(const std::vector<const BrowserNode*>& nodes) {
  std::vector<std::string> names;
  for (const BrowserNode* node : nodes) {
    names.push_back(node->name);
  }
  return names;
}

// T:\ holds big.iso (500), docs\ (a.txt 10, B.txt 30, deep\c.bin 200) and zeta.log (40); the
// folders' own entries come after their contents, as the host sends them.
void AddFixture(ScanTree& tree) {
  tree.Add(StartedEvent("T:\\"));
  tree.Add(BatchEvent({Dated(FileEntry("T:\\big.iso", 500), 100), FileEntry("T:\\docs\\a.txt", 10),
                       FileEntry("T:\\docs\\B.txt", 30), FileEntry("T:\\docs\\deep\\c.bin", 200),
                       Dated(FolderEntry("T:\\docs\\deep", 200), 300), Dated(FolderEntry("T:\\docs", 240), 200),
                       Dated(FileEntry("T:\\zeta.log", 40), 400)},
                      5, 2, 780));
}

TEST(ScanTreeTest, FolderTotalsGrowWhileEntriesArriveBeforeTheFolderItself) {
  ScanTree tree;
  tree.Add(StartedEvent("T:\\"));
  tree.Add(BatchEvent({FileEntry("T:\\docs\\deep\\c.bin", 200)}, 1, 0, 200));
  // The folders exist, with the live size, before their own entries arrive.
  ASSERT_NE(tree.Find("T:\\docs\\deep"), nullptr);
  EXPECT_EQ(tree.Find("T:\\docs")->bytes, 200u);
  EXPECT_EQ(tree.Find("T:\\docs")->items, 2u);
  EXPECT_EQ(tree.totals().bytes, 200u);
  EXPECT_EQ(tree.state(), ScanState::kRunning);
  tree.Add(BatchEvent({FileEntry("T:\\docs\\a.txt", 10), FolderEntry("T:\\docs\\deep", 200),
                       FolderEntry("T:\\docs", 210)},
                      2, 2, 210));
  tree.Add(CompletedEvent(2, 2, 210, 5));
  EXPECT_EQ(tree.root()->bytes, 210u);
  EXPECT_EQ(tree.totals().files, 2u);
  EXPECT_EQ(tree.totals().folders, 2u);
  EXPECT_EQ(tree.state(), ScanState::kCompleted);
}

TEST(ScanTreeTest, SortsByEachOrderWithNamesBreakingTies) {
  ScanTree tree;
  AddFixture(tree);
  const BrowserNode& root = *tree.root();
  EXPECT_THAT(Names(tree.SortedChildren(root, SortOrder::kSize)), ElementsAre("big.iso", "docs", "zeta.log"));
  EXPECT_THAT(Names(tree.SortedChildren(root, SortOrder::kName)), ElementsAre("big.iso", "docs", "zeta.log"));
  EXPECT_THAT(Names(tree.SortedChildren(root, SortOrder::kCount)), ElementsAre("docs", "big.iso", "zeta.log"));
  EXPECT_THAT(Names(tree.SortedChildren(root, SortOrder::kDate)), ElementsAre("zeta.log", "docs", "big.iso"));
  // Only A to Z fold: "a.txt" and "B.txt" sort as a and b.
  EXPECT_THAT(Names(tree.SortedChildren(*tree.Find("T:\\docs"), SortOrder::kName)),
              ElementsAre("a.txt", "B.txt", "deep"));
}

TEST(ScanTreeTest, LargestFilesLookAtEveryDepthBelowTheFolder) {
  ScanTree tree;
  AddFixture(tree);
  EXPECT_THAT(Names(tree.LargestFiles(*tree.root(), 3)), ElementsAre("big.iso", "c.bin", "zeta.log"));
  EXPECT_THAT(Names(tree.LargestFiles(*tree.Find("T:\\docs"), 10)), ElementsAre("c.bin", "B.txt", "a.txt"));
}

TEST(ScanTreeTest, RemovingAnItemTakesItsShareOutOfEveryFolderAboveAndTheTotals) {
  ScanTree tree;
  AddFixture(tree);
  ASSERT_TRUE(tree.Remove("T:\\docs\\deep"));
  EXPECT_EQ(tree.Find("T:\\docs\\deep"), nullptr);
  EXPECT_EQ(tree.Find("T:\\docs\\deep\\c.bin"), nullptr);
  EXPECT_EQ(tree.Find("T:\\docs")->bytes, 40u);
  EXPECT_EQ(tree.Find("T:\\docs")->items, 2u);
  EXPECT_EQ(tree.root()->bytes, 580u);
  EXPECT_EQ(tree.totals().bytes, 580u);
  EXPECT_EQ(tree.totals().files, 4u);
  EXPECT_EQ(tree.totals().folders, 1u);
  ASSERT_TRUE(tree.Remove("T:\\big.iso"));
  EXPECT_EQ(tree.root()->bytes, 80u);
  EXPECT_FALSE(tree.Remove("T:\\big.iso"));
  EXPECT_FALSE(tree.Remove("T:\\"));
  // An entry that arrives later below a removed folder starts that folder afresh.
  tree.Add(BatchEvent({FileEntry("T:\\docs\\deep\\late.bin", 7)}, 0, 0, 0));
  EXPECT_EQ(tree.Find("T:\\docs\\deep")->bytes, 7u);
  EXPECT_EQ(tree.root()->bytes, 87u);
}

TEST(ScanTreeTest, AnUnreadableFolderIsMarkedAndPathsOutsideTheRootAreIgnored) {
  ScanTree tree;
  tree.Add(StartedEvent("T:\\"));
  tree.Add(BatchEvent({InaccessibleEntry("T:\\locked"), FolderEntry("T:\\locked", 0), FileEntry("U:\\x", 5),
                       FileEntry("relative", 5)},
                      0, 1, 0));
  ASSERT_NE(tree.Find("T:\\locked"), nullptr);
  EXPECT_FALSE(tree.Find("T:\\locked")->readable);
  EXPECT_EQ(tree.root()->children.size(), 1u);
  EXPECT_EQ(tree.totals().bytes, 0u);
}

}  // namespace
}  // namespace pel_mora::cli
