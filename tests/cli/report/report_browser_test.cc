// The report of a fixture scan rendered by headless Chromium: the page's own script has run
// (breadcrumb, drill-down from the address), the DOM holds the expected tiles and titles, and a
// screenshot is taken. Chromium runs with a fresh profile and nothing that reaches the network.

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
  }

  // Runs Chromium on the page (with `fragment` after '#') and returns its exit status; its
  // standard output goes to `output`. `timeout` bounds the wait at two minutes.
  int RunChromium(const std::string& action, const std::string& fragment, const fs::path& output) {
    const fs::path profile = directory_ / "profile";
    fs::remove_all(profile);
    const std::string command = "timeout 120 '" + std::string(PELMORA_CHROMIUM) +
                                "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --user-data-dir='" + profile.string() + "' --window-size=1280,900 " + action +
                                " 'file://" + page_.string() + fragment + "' > '" + output.string() + "' 2> '" +
                                (directory_ / "chromium.log").string() + "'";
    return std::system(command.c_str());
  }

  std::string DumpDom(const std::string& fragment) {
    const fs::path dom = directory_ / "dom.html";
    const int status = RunChromium("--dump-dom", fragment, dom);
    EXPECT_EQ(status, 0) << "chromium failed; see " << (directory_ / "chromium.log");
    return ReadFile(dom);
  }

  fs::path directory_;
  fs::path page_;
};

TEST_F(ReportBrowserTest, DomHoldsTheTilesAndTheBreadcrumb) {
  const std::string dom = DumpDom("");
  EXPECT_THAT(dom, HasSubstr("<button disabled=\"\">P:\\</button>"));
  // Tiles: files by kind, folders with their names, the smaller items as one block.
  EXPECT_THAT(dom, HasSubstr("class=\"t f g-video\""));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\movie.mkv\n70.0 MiB\""));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\Photos\\beach.jpg\n40.0 MiB\""));
  EXPECT_THAT(dom, HasSubstr("title=\"50 smaller items in P:\\Photos\n50.0 KiB\""));
  EXPECT_THAT(dom, HasSubstr("<span class=\"n\">Projects</span>"));
  EXPECT_THAT(dom, HasSubstr("title=\"P:\\Tom &amp; Jerry's.dat\n8.0 MiB\""));
  EXPECT_THAT(dom, Not(HasSubstr("class=\"t d focus\"")));
}

TEST_F(ReportBrowserTest, AddressOpensTheReportDrilledIntoAFolder) {
  const std::string dom = DumpDom("#P%3A%5CProjects%5Capp");
  // The breadcrumb leads back up, one button a level.
  EXPECT_THAT(dom, HasSubstr("<button>P:\\</button><span class=\"sep\">›</span><button>Projects</button>"
                             "<span class=\"sep\">›</span><button disabled=\"\">app</button>"));
  // The folder fills the map; the drive's own tile is hidden behind it.
  EXPECT_THAT(dom, HasSubstr("class=\"t d focus\" style=\"left:0;top:0;width:100%;height:100%\" "
                             "title=\"P:\\Projects\\app\n45.0 MiB in 3 items\" data-path=\"P:\\Projects\\app\""));
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
