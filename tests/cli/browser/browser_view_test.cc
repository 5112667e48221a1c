#include "cli/browser/browser_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::BatchEvent;
using testing::CompletedEvent;
using testing::FileEntry;
using testing::FolderEntry;
using testing::StartedEvent;

class BrowserViewTest : public ::testing::Test {
 protected:
  BrowserViewTest() {
    tree_.Add(StartedEvent("T:\\"));
    tree_.Add(BatchEvent({FileEntry("T:\\big.iso", 3 * 1024 * 1024), FileEntry("T:\\docs\\a.txt", 2048),
                          FileEntry("T:\\docs\\sub\\b.bin", 1024 * 1024), FolderEntry("T:\\docs\\sub", 1024 * 1024),
                          FolderEntry("T:\\docs", 1024 * 1024 + 2048), FileEntry("T:\\tiny", 10)},
                         4, 2, 0));
    tree_.Add(CompletedEvent(4, 2, 0, 1));
  }

  std::string Screen(size_t width = 80, size_t height = 24) const {
    std::string text;
    for (const ScreenLine& line : view_.Render(width, height)) {
      text += line.text + "\n";
    }
    return text;
  }

  ScanTree tree_;
  BrowserView view_{tree_};
};

TEST_F(BrowserViewTest, ShowsTheFolderSortedBySizeInAScreenOfExactlyTheTerminalsSize) {
  const std::vector<ScreenLine> lines = view_.Render(80, 24);
  ASSERT_EQ(lines.size(), 24u);
  for (const ScreenLine& line : lines) {
    EXPECT_EQ(line.text.size(), 80u) << line.text;
  }
  EXPECT_THAT(lines[0].text, HasSubstr("T:\\  scan complete  4.0 MiB  4 files  2 folders"));
  EXPECT_THAT(lines[2].text, HasSubstr("3.0 MiB [#########   ]  75.0%"));
  EXPECT_THAT(lines[2].text, HasSubstr("big.iso"));
  EXPECT_EQ(lines[2].style, ScreenLine::Style::kSelected);
  EXPECT_THAT(lines[3].text, HasSubstr("docs\\"));
  EXPECT_THAT(lines[23].text, HasSubstr("? keys  q quit"));
  // A narrow, short terminal still gets a full screen with the keys on its last line.
  const std::vector<ScreenLine> small = view_.Render(30, 6);
  ASSERT_EQ(small.size(), 6u);
  EXPECT_EQ(small[5].style, ScreenLine::Style::kBar);
}

TEST_F(BrowserViewTest, OpensAFolderGoesBackUpToItAndSwitchesTheSort) {
  view_.HandleKey(BrowserKey::kDown);
  view_.HandleKey(BrowserKey::kOpen);
  EXPECT_EQ(view_.folder_path(), "T:\\docs");
  EXPECT_THAT(Screen(), HasSubstr("sub\\"));
  view_.HandleKey(BrowserKey::kBack);
  EXPECT_EQ(view_.folder_path(), "T:\\");
  ASSERT_NE(view_.Selected(), nullptr);
  EXPECT_EQ(view_.Selected()->path, "T:\\docs");
  view_.HandleKey(BrowserKey::kSort);
  EXPECT_THAT(Screen(), HasSubstr("sorted by name"));
  view_.HandleKey(BrowserKey::kHome);
  EXPECT_EQ(view_.Selected()->path, "T:\\big.iso");
  // A file does not open.
  view_.HandleKey(BrowserKey::kOpen);
  EXPECT_EQ(view_.folder_path(), "T:\\");
}

TEST_F(BrowserViewTest, RecycleAsksNamingTheItemAndItsSizeAndOnlyYesSendsIt) {
  EXPECT_EQ(view_.HandleKey(BrowserKey::kRecycle).kind, BrowserRequest::Kind::kNone);
  EXPECT_THAT(Screen(), HasSubstr("Recycle T:\\big.iso (3.0 MiB)? y/N"));
  EXPECT_EQ(view_.HandleKey(BrowserKey::kDown).kind, BrowserRequest::Kind::kNone);
  EXPECT_THAT(Screen(), HasSubstr("Nothing recycled."));
  view_.HandleKey(BrowserKey::kHome);
  view_.HandleKey(BrowserKey::kRecycle);
  const BrowserRequest request = view_.HandleKey(BrowserKey::kYes);
  EXPECT_EQ(request.kind, BrowserRequest::Kind::kRecycle);
  EXPECT_EQ(request.path, "T:\\big.iso");
}

TEST_F(BrowserViewTest, ARecycleUpdatesTheTotalsOnlyWhenTheHostRecycledIt) {
  view_.RecycleFinished("T:\\big.iso", RecycleOutcome::kRefused, "");
  EXPECT_THAT(Screen(), HasSubstr("Not recycled: the host refused T:\\big.iso"));
  EXPECT_NE(tree_.Find("T:\\big.iso"), nullptr);
  view_.RecycleFinished("T:\\big.iso", RecycleOutcome::kFailed, "RECYCLE_ERROR: Failed to recycle paths.");
  EXPECT_THAT(Screen(), HasSubstr("failed: RECYCLE_ERROR"));
  EXPECT_NE(tree_.Find("T:\\big.iso"), nullptr);
  view_.RecycleFinished("T:\\big.iso", RecycleOutcome::kRecycled, "");
  EXPECT_EQ(tree_.Find("T:\\big.iso"), nullptr);
  const std::string screen = Screen();
  EXPECT_THAT(screen, HasSubstr("Recycled T:\\big.iso (3.0 MiB)."));
  EXPECT_THAT(screen, HasSubstr("1.0 MiB  3 files  2 folders"));
}

TEST_F(BrowserViewTest, LargestFilesListsFilesAtAnyDepthAndLeftReturns) {
  view_.HandleKey(BrowserKey::kLargestFiles);
  EXPECT_TRUE(view_.showing_largest_files());
  const std::string screen = Screen();
  EXPECT_THAT(screen, HasSubstr("Largest files below T:\\"));
  EXPECT_THAT(screen, HasSubstr("docs\\sub\\b.bin"));
  view_.HandleKey(BrowserKey::kDown);
  EXPECT_EQ(view_.Selected()->path, "T:\\docs\\sub\\b.bin");
  view_.HandleKey(BrowserKey::kBack);
  EXPECT_FALSE(view_.showing_largest_files());
  EXPECT_EQ(view_.folder_path(), "");
}

// A saved scan's sizes may be old: the question and the answer say so. A path gone since then
// changes no total, and reveal is a request like any other.
TEST_F(BrowserViewTest, ASavedScanNamesTheSavedSizeAndAGonePathLeavesTheTotals) {
  BrowserView saved(tree_, ScanOrigin::kSaved);
  const auto screen = [&saved] {
    std::string text;
    for (const ScreenLine& line : saved.Render(80, 24)) {
      text += line.text + "\n";
    }
    return text;
  };
  saved.HandleKey(BrowserKey::kRecycle);
  EXPECT_THAT(screen(), HasSubstr("Recycle T:\\big.iso (3.0 MiB when saved)? y/N"));
  EXPECT_EQ(saved.HandleKey(BrowserKey::kYes).kind, BrowserRequest::Kind::kRecycle);
  saved.RecycleFinished("T:\\big.iso", RecycleOutcome::kMissing, "");
  EXPECT_THAT(screen(), HasSubstr("Not recycled: T:\\big.iso is gone (no such file or folder now)."));
  EXPECT_THAT(screen(), HasSubstr("4.0 MiB  4 files  2 folders"));
  saved.RecycleFinished("T:\\tiny", RecycleOutcome::kRecycled, "");
  EXPECT_THAT(screen(), HasSubstr("Recycled T:\\tiny (10 B when saved)."));
  const BrowserRequest reveal = saved.HandleKey(BrowserKey::kReveal);
  EXPECT_EQ(reveal.kind, BrowserRequest::Kind::kReveal);
  EXPECT_EQ(reveal.path, "T:\\big.iso");
  EXPECT_FALSE(reveal.is_directory);
  // A folder's request says it was listed as one, so that what is there now can be compared.
  saved.HandleKey(BrowserKey::kDown);
  saved.HandleKey(BrowserKey::kRecycle);
  const BrowserRequest folder = saved.HandleKey(BrowserKey::kYes);
  EXPECT_EQ(folder.path, "T:\\docs");
  EXPECT_TRUE(folder.is_directory);
  EXPECT_EQ(saved.HandleKey(BrowserKey::kQuit).kind, BrowserRequest::Kind::kQuit);
}

TEST_F(BrowserViewTest, HelpListsTheKeysAndAnyKeyReturns) {
  view_.HandleKey(BrowserKey::kHelp);
  EXPECT_THAT(Screen(), HasSubstr("recycle the item (asks first)"));
  view_.HandleKey(BrowserKey::kOther);
  EXPECT_THAT(Screen(), Not(HasSubstr("recycle the item (asks first)")));
}

}  // namespace
}  // namespace pel_mora::cli
