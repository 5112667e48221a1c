// The live status line: what fits a terminal of a given width, and that no rewrite ever reaches
// the last column, even after the window has become narrower.

#include "cli/terminal/status_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace pel_mora::cli {
namespace {

const std::vector<std::string> kScanParts = {"Scanning P:\\", "14.2 GiB", "97,363 files", "14,642 folders",
                                             "19,620 entries/s"};

TEST(FitStatusLineTest, LeavesPartsOutFromTheEndAndCutsOnlyTheFirst) {
  struct Case {
    std::vector<std::string> parts;
    size_t columns;
    std::string expected;
  };
  const Case cases[] = {
      {kScanParts, 120, "Scanning P:\\  14.2 GiB  97,363 files  14,642 folders  19,620 entries/s"},
      // 70 characters need 71 columns: the last one stays free.
      {kScanParts, 71, "Scanning P:\\  14.2 GiB  97,363 files  14,642 folders  19,620 entries/s"},
      {kScanParts, 70, "Scanning P:\\  14.2 GiB  97,363 files  14,642 folders"},
      {kScanParts, 50, "Scanning P:\\  14.2 GiB  97,363 files"},
      {kScanParts, 24, "Scanning P:\\  14.2 GiB"},
      {kScanParts, 10, "Scanning "},
      {kScanParts, 1, ""},
      {kScanParts, 0, ""},
      // Characters, not bytes: "Fü" is 2 columns wide and 3 bytes long, and is never split.
      {{"F\xC3\xBC\xC3\x9F" "e", "x"}, 7, "F\xC3\xBC\xC3\x9F" "e"},
      {{"F\xC3\xBC\xC3\x9F" "e"}, 3, "F\xC3\xBC"},
      {{}, 80, ""},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(FitStatusLine(test_case.parts, test_case.columns), test_case.expected) << test_case.columns;
  }
}

// Every rewrite starts with a carriage return; between two of them nothing may be wider than the
// terminal less one column, or the terminal wraps and the line can no longer be rewritten.
TEST(StatusLineTest, NoRewriteReachesTheLastColumnWhenTheWindowNarrows) {
  std::ostringstream stream;
  size_t columns = 80;
  {
    StatusLine line(stream, [&columns] { return columns; });
    line.Show(kScanParts);
    columns = 30;  // the window is made narrower
    line.Show(kScanParts);
    columns = 0;  // no longer a terminal that can tell: 80 assumed
    line.Show({"Waiting"});
  }
  const std::string written = stream.str();
  size_t start = 0;
  std::vector<std::string> writes;
  while (start < written.size()) {
    ASSERT_EQ(written[start], '\r');
    const size_t end = written.find('\r', start + 1);
    writes.push_back(written.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
    start = end == std::string::npos ? written.size() : end;
  }
  ASSERT_EQ(writes.size(), 5u) << written;  // three lines, then the clear: blanks and a return
  EXPECT_EQ(writes[0], "Scanning P:\\  14.2 GiB  97,363 files  14,642 folders  19,620 entries/s");
  EXPECT_EQ(writes[1], "Scanning P:\\  14.2 GiB" + std::string(7, ' '));
  EXPECT_EQ(writes[2], "Waiting" + std::string(15, ' '));
  EXPECT_EQ(writes[3], std::string(7, ' '));
  EXPECT_EQ(writes[4], "");
}

}  // namespace
}  // namespace pel_mora::cli
