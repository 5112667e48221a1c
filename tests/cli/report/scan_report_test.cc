// The report's model and page from a fixture scan: the treemap tiles nest and keep their shares,
// small items become one block per folder, and the tables and totals come from the whole tree.
// (tests/cli/report/report_browser_test.cc renders the page in a browser.)

#include "cli/report/scan_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/cli/support/report_fixture.h"

namespace pel_mora::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr double kTolerance = 1e-6;

// 2026-12-10 23:04:05 UTC.
const std::chrono::system_clock::time_point kScanTime{std::chrono::seconds{1796943845}};

void AddAll(ScanReport* report, const std::vector<flutter::EncodableValue>& events) {
  for (const flutter::EncodableValue& event : events) {
    report->Add(event, kScanTime);
  }
}

bool Inside(const LayoutRect& inner, const LayoutRect& outer) {
  return inner.x >= outer.x - kTolerance && inner.y >= outer.y - kTolerance &&
         inner.x + inner.width <= outer.x + outer.width + kTolerance &&
         inner.y + inner.height <= outer.y + outer.height + kTolerance;
}

bool Overlap(const LayoutRect& a, const LayoutRect& b) {
  return std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x) > kTolerance &&
         std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y) > kTolerance;
}

// Every tile inside its parent, no two siblings overlapping, and the tiles of a folder's
// contents taking shares of its space in proportion to their bytes.
void CheckNesting(const Tile& tile) {
  double child_area = 0;
  uint64_t child_bytes = 0;
  for (size_t index = 0; index < tile.children.size(); ++index) {
    const Tile& child = tile.children[index];
    EXPECT_TRUE(Inside(child.rect, tile.rect)) << child.path << " leaves " << tile.path;
    for (size_t other = 0; other < index; ++other) {
      EXPECT_FALSE(Overlap(child.rect, tile.children[other].rect)) << child.path << " overlaps " << tile.children[other].name;
    }
    child_area += child.rect.width * child.rect.height;
    child_bytes += child.bytes;
    CheckNesting(child);
  }
  EXPECT_EQ(child_bytes, tile.children.empty() ? 0 : tile.bytes) << tile.path;
  for (const Tile& child : tile.children) {
    EXPECT_NEAR(child.rect.width * child.rect.height / child_area,
                static_cast<double>(child.bytes) / static_cast<double>(child_bytes), 1e-9)
        << child.path;
  }
}

const Tile* FindTile(const Tile& tile, const std::string& name) {
  if (tile.name == name) {
    return &tile;
  }
  for (const Tile& child : tile.children) {
    if (const Tile* found = FindTile(child, name)) {
      return found;
    }
  }
  return nullptr;
}

TEST(ScanReportTest, TreemapNestsFoldersAndGathersSmallItems) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  ASSERT_TRUE(report.completed());
  const Tile root = report.Layout(ReportOptions{});
  EXPECT_EQ(root.path, "P:\\");
  CheckNesting(root);

  // Largest first; the empty file and the unreadable, empty folder take no space at all.
  std::vector<std::string> top_level;
  for (const Tile& child : root.children) {
    top_level.push_back(child.name);
  }
  EXPECT_THAT(top_level, ::testing::ElementsAre("movie.mkv", "Photos", "Projects", "Music", "Tom & Jerry's.dat"));

  const Tile* photos = FindTile(root, "Photos");
  ASSERT_NE(photos, nullptr);
  EXPECT_EQ(photos->kind, TileKind::kFolder);
  EXPECT_EQ(photos->bytes, 60u * 1024 * 1024 + 50 * 1024);
  const Tile* thumbnails = FindTile(*photos, "50 smaller items");
  ASSERT_NE(thumbnails, nullptr);
  EXPECT_EQ(thumbnails->kind, TileKind::kSmallerItems);
  EXPECT_EQ(thumbnails->item_count, 50u);
  EXPECT_EQ(thumbnails->bytes, 50u * 1024);
  EXPECT_EQ(thumbnails->path, "P:\\Photos");

  const Tile* program = FindTile(root, "app.exe");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->path, "P:\\Projects\\app\\build\\app.exe");
  EXPECT_EQ(program->group, ExtensionGroup::kExecutable);
  EXPECT_EQ(FindTile(root, "notes.txt"), nullptr);
  EXPECT_EQ(FindTile(root, "Locked"), nullptr);
}

TEST(ScanReportTest, AtALowerResolutionMoreItemsJoinTheSmallerBlock) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  ReportOptions small;
  small.width = 160;
  small.height = 90;
  small.minimum_tile_area = 600;
  const Tile root = report.Layout(small);
  CheckNesting(root);
  // 8 MiB of 213 MiB is about 540 of the 14,400 square pixels: below the minimum now.
  EXPECT_EQ(FindTile(root, "Tom & Jerry's.dat"), nullptr);
  // The block also counts the empty file and the empty folder, which add no bytes.
  const Tile* rest = FindTile(root, "3 smaller items");
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest->item_count, 3u);
  EXPECT_EQ(rest->bytes, 8u * 1024 * 1024);
}

TEST(ScanReportTest, PageHoldsTotalsTablesAndEscapedNames) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  const std::string html = report.RenderHtml(ReportOptions{});
  EXPECT_THAT(html, HasSubstr("Completed &middot; started <b>2026-12-10 23:04:05 UTC</b> &middot; took <b>1.2 s</b>"));
  EXPECT_THAT(html, HasSubstr("<b>213.0 MiB</b> (223,397,888 bytes) in <b>59</b> files and <b>6</b> folders"));
  EXPECT_THAT(html, HasSubstr("<b>1</b> folders could not be read"));
  EXPECT_THAT(html, HasSubstr("title=\"P:\\Tom &amp; Jerry&#39;s.dat&#10;8.0 MiB\""));
  EXPECT_THAT(html, Not(HasSubstr("Tom & Jerry")));
  // Self-contained: nothing is fetched from anywhere.
  EXPECT_THAT(html, Not(HasSubstr("http")));
  EXPECT_THAT(html, Not(HasSubstr(" src=")));

  // Extensions by bytes, with their kind, file count and share of the drive.
  const size_t table = html.find("<table id=\"extensions\">");
  ASSERT_NE(table, std::string::npos);
  const std::string extensions = html.substr(table);
  const std::string rows[] = {
      "<td class=\"path\">.mkv</td><td class=\"path\">video</td><td class=\"num\">1</td><td class=\"num\">70.0 MiB</td>"
      "<td class=\"num\">32.9%</td>",
      "<td class=\"path\">.jpg</td><td class=\"path\">images</td><td class=\"num\">51</td><td class=\"num\">40.0 MiB</td>",
      "<td class=\"path\">.mp3</td><td class=\"path\">audio</td>",
      "<td class=\"path\">.zip</td><td class=\"path\">archives</td>",
      "<td class=\"path\">.txt</td><td class=\"path\">documents</td><td class=\"num\">1</td><td class=\"num\">0 B</td>",
  };
  size_t previous = 0;
  for (const std::string& row : rows) {
    const size_t position = extensions.find(row);
    ASSERT_NE(position, std::string::npos) << row;
    EXPECT_GT(position, previous) << row << " is out of order";
    previous = position;
  }
  // The largest folders and files lists.
  EXPECT_THAT(html, HasSubstr("<td class=\"num\">60.0 MiB</td><td class=\"path\">P:\\Photos</td>"));
  EXPECT_THAT(html, HasSubstr("<td class=\"num\">15.0 MiB</td><td class=\"path\">P:\\Projects\\app\\build\\app.exe</td>"));
}

TEST(ScanReportTest, CancelledScanGivesAPartialReportOfWhatArrived) {
  ScanReport report;
  AddAll(&report, testing::CancelledReportFixtureEvents());
  // A later scan's events do not mix into this report.
  AddAll(&report, testing::ReportFixtureEvents());
  EXPECT_TRUE(report.cancelled());
  const std::string html = report.RenderHtml(ReportOptions{});
  EXPECT_THAT(html, HasSubstr("Cancelled, partial result"));
  EXPECT_THAT(html, HasSubstr("<b>60.0 MiB</b> (62,965,760 bytes) in <b>52</b> files and <b>1</b> folders"));
  EXPECT_THAT(html, Not(HasSubstr("movie.mkv")));
  EXPECT_THAT(html, Not(HasSubstr("took")));
}

// The host walks 64 levels; a path far deeper than that (a broken or hostile stream) is left out
// instead of exhausting the stack of the recursive tree.
TEST(ScanReportTest, PathsFarDeeperThanTheHostWalksAreLeftOut) {
  std::string deep = "P:\\";
  for (int level = 0; level < 100000; ++level) {
    deep += "d\\";
  }
  std::string within = "P:\\";
  for (int level = 0; level < 64; ++level) {
    within += "d\\";
  }
  const auto file = [](const std::string& path) {
    return flutter::EncodableValue(flutter::EncodableMap{{flutter::EncodableValue("path"), flutter::EncodableValue(path)},
                                                         {flutter::EncodableValue("sizeBytes"), flutter::EncodableValue(int64_t{4096})},
                                                         {flutter::EncodableValue("isDirectory"), flutter::EncodableValue(false)},
                                                         {flutter::EncodableValue("isAccessible"), flutter::EncodableValue(true)}});
  };
  ScanReport report;
  report.Add(flutter::EncodableValue(flutter::EncodableMap{{flutter::EncodableValue("type"), flutter::EncodableValue("started")},
                                                           {flutter::EncodableValue("root"), flutter::EncodableValue("P:\\")}}),
             kScanTime);
  report.Add(flutter::EncodableValue(flutter::EncodableMap{
                 {flutter::EncodableValue("type"), flutter::EncodableValue("batch")},
                 {flutter::EncodableValue("entries"), flutter::EncodableValue(flutter::EncodableList{
                                                          file(deep + "lost.bin"), file(within + "kept.bin")})}}),
             kScanTime);
  const std::string html = report.RenderHtml(ReportOptions{});
  EXPECT_THAT(html, HasSubstr("kept.bin"));
  EXPECT_THAT(html, Not(HasSubstr("lost.bin")));
  EXPECT_THAT(html, HasSubstr("in <b>1</b> files"));
}

TEST(ScanReportTest, ExtensionGroups) {
  struct Case {
    const char* extension;
    ExtensionGroup group;
  };
  const Case cases[] = {
      {"7z", ExtensionGroup::kArchive},   {"zst", ExtensionGroup::kArchive}, {"jpg", ExtensionGroup::kImage},
      {"mkv", ExtensionGroup::kVideo},    {"flac", ExtensionGroup::kAudio},  {"pdf", ExtensionGroup::kDocument},
      {"cc", ExtensionGroup::kCode},      {"dll", ExtensionGroup::kExecutable}, {"", ExtensionGroup::kOther},
      {"JPG", ExtensionGroup::kOther},    {"jp", ExtensionGroup::kOther},    {"zzz", ExtensionGroup::kOther},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(ExtensionGroupOf(test_case.extension), test_case.group) << test_case.extension;
  }
}

}  // namespace
}  // namespace pel_mora::cli
