// The report of a fixture scan rendered by headless Chromium: the page's own script has run
// (breadcrumb, drill-down from the address into a folder's own layout or its enlarged tile, the
// header's totals of the folder shown), the DOM holds the expected tiles, labels and titles, and
// a screenshot is taken. Chromium runs with a fresh profile and nothing that reaches the network.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/report/scan_report.h"
#include "tests/cli/support/report_fixture.h"

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class ReportBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(PELMORA_CHROMIUM).empty()) {
      GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    }
    directory_ = fs::path(PELMORA_REPORT_TEST_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    ScanReport report;
    for (const flutter::EncodableValue& event : testing::ReportFixtureEvents()) {
      report.Add(event, std::chrono::system_clock::time_point{std::chrono::seconds{1796943845}});
    }
    page_ = directory_ / "report.html";
    std::ofstream(page_, std::ios::binary) << report.RenderHtml(ReportOptions{});
    // The same drive with no room for folders' own layouts: drilling enlarges the folder's tile.
    ReportOptions without_folder_layouts;
    without_folder_layouts.drilled_tile_budget = 0;
    page_without_folder_layouts_ = directory_ / "report-without-folder-layouts.html";
    std::ofstream(page_without_folder_layouts_, std::ios::binary) << report.RenderHtml(without_folder_layouts);
  }

  // Runs Chromium on the page (with `fragment` after '#') and returns its exit status; its
  // standard output goes to `output`. `timeout` bounds the wait at two minutes.
  int RunChromium(const std::string& action, const std::string& fragment, const fs::path& output) {
    return RunChromium(action, page_, fragment, output);
  }

  int RunChromium(const std::string& action, const fs::path& page, const std::string& fragment,
                  const fs::path& output) {
    const fs::path profile = directory_ / "profile";
    fs::remove_all(profile);
    const std::string command = "timeout 120 '" + std::string(PELMORA_CHROMIUM) +
                                "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --user-data-dir='" + profile.string() + "' --window-size=1280,900 " + action +
                                " 'file://" + page.string() + fragment + "' > '" + output.string() + "' 2> '" +
                                (directory_ / "chromium.log").string() + "'";
    return std::system(command.c_str());
  }

  std::string DumpDom(const std::string& fragment) { return DumpDom(page_, fragment); }

  std::string DumpDom(const fs::path& page, const std::string& fragment) {
    const fs::path dom = directory_ / "dom.html";
    const int status = RunChromium("--dump-dom", page, fragment, dom);
    EXPECT_EQ(status, 0) << "chromium failed; see " << (directory_ / "chromium.log");
    return ReadFile(dom);
  }

  fs::path directory_;
  fs::path page_;
  fs::path page_without_folder_layouts_;
};

// The element of `dom` whose start tag contains `marker`, with everything inside it.
std::string ElementAround(const std::string& dom, const std::string& marker) {
  const size_t found = dom.find(marker);
  if (found == std::string::npos) {
    return "";
  }
  const size_t begin = dom.rfind("<div", found);
  size_t position = begin;
  int depth = 0;
  while (position < dom.size()) {
    const size_t open = dom.find("<div", position);
    const size_t close = dom.find("</div>", position);
    if (close == std::string::npos) {
      return "";
    }
    if (open != std::string::npos && open < close) {
      ++depth;
      position = open + 4;
    } else {
      --depth;
      position = close + 6;
      if (depth == 0) {
        return dom.substr(begin, position - begin);
      }
    }
  }
  return "";
}

// The header's totals as the page shows them.
std::string Totals(const std::string& size, const std::string& bytes, const std::string& files,
                   const std::string& folders) {
  return "<span id=\"totals\"><b>" + size + "</b> (" + bytes + " bytes) in <b>" + files + "</b> files and <b>" +
         folders + "</b> folders</span>";
}

TEST_F(ReportBrowserTest, DomHoldsTheTilesAndTheBreadcrumb) {
  const std::string dom = DumpDom("");
  EXPECT_THAT(dom, HasSubstr("<button disabled=\"\">P:\\</button>"));
  // Tiles: files by kind, folders with their names, the smaller items as one block.
  EXPECT_THAT(dom, HasSubstr("class=\"t f g-video\""));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\movie.mkv\n70.0 MiB\""));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\Photos\\beach.jpg\n40.0 MiB\""));
  EXPECT_THAT(dom, HasSubstr("title=\"50 smaller items in P:\\Photos\n50.0 KiB\""));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\Tom &amp; Jerry's.dat\n8.0 MiB\""));
  EXPECT_THAT(dom, Not(HasSubstr("class=\"t d focus\"")));
  // Big tiles carry their name and size; an open folder its size beside its name.
  EXPECT_THAT(dom, HasSubstr("<i>movie.mkv</i><i>70.0 MiB</i></div>"));
  EXPECT_THAT(dom, HasSubstr("<i>Tom &amp; Jerry's.dat</i><i>8.0 MiB</i></div>"));
  EXPECT_THAT(dom, HasSubstr("<span class=\"n\">Projects<i>45.0 MiB</i></span>"));
  // The drive's totals.
  EXPECT_THAT(dom, HasSubstr(Totals("213.1 MiB", "223,500,288", "79", "7")));
}

TEST_F(ReportBrowserTest, AddressOpensTheReportDrilledIntoAFolder) {
  const std::string dom = DumpDom("#P%3A%5CProjects%5Capp");
  // The breadcrumb leads back up, one button a level.
  EXPECT_THAT(dom, HasSubstr("<button>P:\\</button><span class=\"sep\">›</span><button>Projects</button>"
                             "<span class=\"sep\">›</span><button disabled=\"\">app</button>"));
  // The folder's own layout fills the map; the drive's is hidden behind it.
  EXPECT_THAT(dom, HasSubstr("class=\"t d focus\" style=\"left: 0px; top: 0px; width: 100%; height: 100%;\" "
                             "title=\"P:\\Projects\\app\n45.0 MiB in 3 items\" data-path=\"P:\\Projects\\app\""));
  EXPECT_THAT(dom, HasSubstr("id=\"root\" style=\"left: 0px; top: 0px; width: 100%; height: 100%; display: none;\""));
  // The header's totals are the folder's.
  EXPECT_THAT(dom, HasSubstr(Totals("45.0 MiB", "47,185,920", "3", "1")));
}

// The letters are too small for the drive's map, where they are one block (or a closed folder);
// drilled into, their folder is laid out again in the whole map and each letter is drawn.
TEST_F(ReportBrowserTest, DrilledFolderIsLaidOutAgainWithoutASmallerItemsBlock) {
  const std::string dom = DumpDom("#P%3A%5CLetters");
  EXPECT_THAT(dom, HasSubstr("<button>P:\\</button><span class=\"sep\">›</span><button disabled=\"\">Letters</button>"));
  const std::string shown = ElementAround(dom, "class=\"t d focus\"");
  ASSERT_THAT(shown, HasSubstr("data-path=\"P:\\Letters\""));
  EXPECT_THAT(shown, Not(HasSubstr("display: none")));
  EXPECT_THAT(shown, Not(HasSubstr("class=\"t s\"")));
  for (int index = 0; index < 20; ++index) {
    EXPECT_THAT(shown, HasSubstr("title=\"P:\\Letters\\letter" + std::to_string(index) + ".rst\n5.0 KiB\""));
  }
  EXPECT_THAT(shown, HasSubstr("<i>letter0.rst</i><i>5.0 KiB</i>"));
  EXPECT_THAT(dom, HasSubstr(Totals("100.0 KiB", "102,400", "20", "0")));
  // The drive's map shows the letters as no tiles of their own.
  const std::string drive = ElementAround(dom, "id=\"root\"");
  EXPECT_THAT(drive, Not(HasSubstr("letter0.rst")));
}

// Without a layout of its own, a drilled folder's tile is enlarged in place, smaller items and
// all; the breadcrumb and the totals follow it all the same, and going back up restores it.
TEST_F(ReportBrowserTest, FolderWithoutALayoutOfItsOwnIsEnlarged) {
  const std::string dom = DumpDom(page_without_folder_layouts_, "#P%3A%5CPhotos");
  EXPECT_THAT(dom, HasSubstr("class=\"t d focus\" style=\"left:0;top:0;width:100%;height:100%\" "
                             "title=\"P:\\Photos\n60.0 MiB in 52 items\" data-path=\"P:\\Photos\""));
  const std::string shown = ElementAround(dom, "class=\"t d focus\"");
  EXPECT_THAT(shown, HasSubstr("title=\"50 smaller items in P:\\Photos\n50.0 KiB\""));
  EXPECT_THAT(dom, HasSubstr(Totals("60.0 MiB", "62,965,760", "52", "0")));
  EXPECT_THAT(dom, HasSubstr("id=\"root\" style=\"left: 0px; top: 0px; width: 100%; height: 100%; display: none;\""));
}

TEST_F(ReportBrowserTest, ScreenshotIsTaken) {
  const fs::path screenshot = directory_ / "report.png";
  const int status = RunChromium("--screenshot='" + screenshot.string() + "'", "", directory_ / "chromium.out");
  ASSERT_EQ(status, 0) << "chromium failed; see " << (directory_ / "chromium.log");
  const std::string png = ReadFile(screenshot);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  // A page of coloured tiles does not compress to almost nothing, as a blank page would.
  EXPECT_GT(png.size(), 20000u) << "the screenshot looks empty: " << screenshot;
}

}  // namespace
}  // namespace pel_mora::cli
