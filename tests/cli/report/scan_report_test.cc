// The report's model and page from a fixture scan: the treemap tiles nest and keep their shares,
// small items become one block per folder, and the tables and totals come from the whole tree.
// (tests/cli/report/report_browser_test.cc renders the page in a browser.)

#include "cli/report/scan_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

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
  EXPECT_THAT(top_level, ::testing::ElementsAre("movie.mkv", "Photos", "Projects", "Music", "Tom & Jerry's.dat", "Letters"));

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
  const Tile* rest = FindTile(root, "4 smaller items");
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest->item_count, 4u);
  EXPECT_EQ(rest->bytes, 8u * 1024 * 1024 + 100 * 1024);
}

std::vector<std::string> LayoutPaths(const std::vector<Tile>& layouts) {
  std::vector<std::string> paths;
  for (const Tile& layout : layouts) {
    paths.push_back(layout.path);
  }
  return paths;
}

size_t CountKind(const Tile& tile, TileKind kind) {
  size_t count = tile.kind == kind ? 1 : 0;
  for (const Tile& child : tile.children) {
    count += CountKind(child, kind);
  }
  return count;
}

// A folder the user drills into gets the whole drawing area: the twenty letters, too small for
// the drive's map, are drawn one by one in their folder's own layout, while thumbnails that are
// too small even there stay one block.
TEST(ScanReportTest, FoldersAreLaidOutAgainAtFullSize) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  const ReportOptions options;
  const std::vector<Tile> layouts = report.Layouts(options);
  // The drive's first, then its folders largest first, a folder only after its parent.
  EXPECT_THAT(LayoutPaths(layouts),
              ::testing::ElementsAre("P:\\", "P:\\Photos", "P:\\Projects", "P:\\Projects\\app", "P:\\Music",
                                     "P:\\Projects\\app\\build", "P:\\Letters"));
  for (const Tile& layout : layouts) {
    EXPECT_EQ(layout.kind, TileKind::kFolder);
    EXPECT_EQ(layout.rect.width, options.width);
    EXPECT_EQ(layout.rect.height, options.height);
    CheckNesting(layout);
  }

  const Tile& drive = layouts.front();
  EXPECT_EQ(FindTile(drive, "letter0.rst"), nullptr);
  const Tile* letters_tile = FindTile(drive, "Letters");
  ASSERT_NE(letters_tile, nullptr);
  EXPECT_TRUE(letters_tile->has_layout);
  const Tile& letters = layouts.back();
  EXPECT_EQ(letters.bytes, 100u * 1024);
  EXPECT_EQ(letters.file_count, 20u);
  EXPECT_EQ(CountKind(letters, TileKind::kFile), 20u);
  EXPECT_EQ(CountKind(letters, TileKind::kSmallerItems), 0u);

  const Tile& photos = layouts[1];
  EXPECT_EQ(photos.path, "P:\\Photos");
  const Tile* thumbnails = FindTile(photos, "50 smaller items");
  ASSERT_NE(thumbnails, nullptr);
  EXPECT_EQ(thumbnails->bytes, 50u * 1024);

  const Tile& app = layouts[3];
  EXPECT_EQ(app.file_count, 3u);
  EXPECT_EQ(app.folder_count, 1u);
  const Tile* build = FindTile(app, "build");
  ASSERT_NE(build, nullptr);
  EXPECT_TRUE(build->has_layout);
}

// The layouts of drilled folders stay within their budget of tiles, largest folders first; a
// folder whose layout does not fit is left out with everything below it, so that every folder
// with a layout has one for its parent, and a smaller folder after it may still fit.
TEST(ScanReportTest, FolderLayoutsStayWithinTheirBudget) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  struct Case {
    size_t budget;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {0, {"P:\\"}},
      // Photos takes 3 tiles; Projects (5) does not fit in the 3 left, Music (1) does, and app
      // and build are never offered although build alone would fit.
      {6, {"P:\\", "P:\\Photos", "P:\\Music"}},
      {14, {"P:\\", "P:\\Photos", "P:\\Projects", "P:\\Projects\\app", "P:\\Music", "P:\\Projects\\app\\build"}},
      {1000, {"P:\\", "P:\\Photos", "P:\\Projects", "P:\\Projects\\app", "P:\\Music", "P:\\Projects\\app\\build",
              "P:\\Letters"}},
  };
  for (const Case& test_case : cases) {
    ReportOptions options;
    options.drilled_tile_budget = test_case.budget;
    const std::vector<Tile> layouts = report.Layouts(options);
    EXPECT_EQ(LayoutPaths(layouts), test_case.paths) << "budget " << test_case.budget;
    size_t tiles = 0;
    for (size_t index = 1; index < layouts.size(); ++index) {
      tiles += CountKind(layouts[index], TileKind::kFile) + CountKind(layouts[index], TileKind::kFolder) - 1 +
               CountKind(layouts[index], TileKind::kClosedFolder) + CountKind(layouts[index], TileKind::kSmallerItems);
    }
    EXPECT_LE(tiles, test_case.budget);
    // Only folders with layouts of their own are marked so.
    const Tile* projects = FindTile(layouts.front(), "Projects");
    ASSERT_NE(projects, nullptr);
    EXPECT_EQ(projects->has_layout, test_case.budget >= 14) << "budget " << test_case.budget;
  }
}

// A name and size are drawn on a tile only where both lines fit: the size whole and at least the
// first eight characters of the name, at an estimated 6.5 units a character (twice that for a
// wide character), inside a border of 1 and padding of 3 on each side.
TEST(ScanReportTest, LabelsAreDrawnOnlyWhereTheyFit) {
  struct Case {
    const char* name;
    double width;
    double height;
    bool labelled;
  };
  // The size reads "1.0 KiB": 45.5 units wide.
  const Case cases[] = {
      {"a.txt", 60, 40, true},
      {"a.txt", 60, 27, false},  // two lines of 13 need 26 inside the border
      {"a.txt", 60, 28, true},
      {"a.txt", 52, 40, false},  // the size does not fit in 44
      {"a-very-long-file-name.txt", 60, 40, true},  // cut short after more than 8 characters
      {"a-very-long-file-name.txt", 56, 40, false},
      {"\xE5\x86\x99\xE7\x9C\x9F.jpg", 60, 40, true},  // two wide characters and four narrow
  };
  for (const Case& test_case : cases) {
    ScanReport report;
    report.Add(testing::Started("P:\\"), kScanTime);
    report.Add(testing::Batch({testing::File(std::string("P:\\") + test_case.name, 1024, "txt")}), kScanTime);
    ReportOptions options;
    options.width = test_case.width;
    options.height = test_case.height;
    const Tile root = report.Layout(options);
    ASSERT_EQ(root.children.size(), 1u) << test_case.name;
    EXPECT_EQ(root.children.front().labelled, test_case.labelled)
        << test_case.name << " in " << test_case.width << " x " << test_case.height;
  }

  // On the fixture's drive: the film and the photo folder (its size beside its name) are
  // labelled; the letters' folder and the thumbnails' block are too small.
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  const std::string html = report.RenderHtml(ReportOptions{});
  EXPECT_THAT(html, HasSubstr("<i>movie.mkv</i><i>70.0 MiB</i></div>"));
  EXPECT_THAT(html, HasSubstr("<span class=\"n\">Photos<i>60.0 MiB</i></span>"));
  const Tile root = report.Layout(ReportOptions{});
  EXPECT_FALSE(FindTile(root, "Letters")->labelled);
  EXPECT_FALSE(FindTile(root, "50 smaller items")->labelled);
}

TEST(ScanReportTest, PageHoldsTotalsTablesAndEscapedNames) {
  ScanReport report;
  AddAll(&report, testing::ReportFixtureEvents());
  const std::string html = report.RenderHtml(ReportOptions{});
  EXPECT_THAT(html, HasSubstr("Completed &middot; started <b>2026-12-10 23:04:05 UTC</b> &middot; took <b>1.2 s</b>"));
  EXPECT_THAT(html, HasSubstr("took <b>1.2 s</b> &middot; <b>1</b> folders could not be read<br>"
                              "<span id=\"totals\"><b>213.1 MiB</b> (223,500,288 bytes) in <b>79</b> files and "
                              "<b>7</b> folders</span>"));
  // The same totals for the page's script to show again when the user comes back to the drive,
  // and each folder's own for when the user drills into it.
  EXPECT_THAT(html, HasSubstr("id=\"root\" style=\"left:0;top:0;width:100%;height:100%\" title=\"P:\\&#10;213.1 MiB in "
                              "8 items\" data-path=\"P:\\\" data-totals=\"213.1 MiB|223,500,288|79|7\">"));
  EXPECT_THAT(html, HasSubstr("data-path=\"P:\\Projects\\app\" data-totals=\"45.0 MiB|47,185,920|3|1\""));
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
      "<td class=\"num\">32.8%</td>",
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
  EXPECT_THAT(html, HasSubstr("data-totals=\"60.0 MiB|62,965,760|52|1\""));
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
      {"pas", ExtensionGroup::kCode},     {"inc", ExtensionGroup::kCode},    {"pm", ExtensionGroup::kCode},
      {"cmake", ExtensionGroup::kCode},   {"rst", ExtensionGroup::kDocument}, {"po", ExtensionGroup::kDocument},
      // A compiled translation catalogue is neither code nor a document.
      {"mo", ExtensionGroup::kOther},     {"pyc", ExtensionGroup::kOther},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(ExtensionGroupOf(test_case.extension), test_case.group) << test_case.extension;
  }
}

}  // namespace
}  // namespace pel_mora::cli
