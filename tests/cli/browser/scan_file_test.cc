#include "cli/browser/scan_file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/commands/commands.h"
#include "cli/common/json.h"
#include "cli/report/scan_report.h"
#include "cli/report/scan_summary.h"
#include "tests/cli/support/report_fixture.h"

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableValue;
using ::testing::HasSubstr;

const std::chrono::system_clock::time_point kStartedAt{std::chrono::seconds(1765400000)};

std::string SavedText(const std::vector<EncodableValue>& events) {
  ScanRecorder recorder;
  for (const EncodableValue& event : events) {
    recorder.Add(event, kStartedAt);
  }
  EXPECT_TRUE(recorder.finished());
  return FormatJson(recorder.ToValue(), JsonLayout::kCompact);
}

std::string ReportOf(const std::vector<EncodableValue>& events, std::chrono::system_clock::time_point at) {
  ScanReport report;
  for (const EncodableValue& event : events) {
    report.Add(event, at);
  }
  return report.RenderHtml(ReportOptions{});
}

TEST(ScanFileTest, ASavedScanLoadsBackToTheSameReportAndSummary) {
  for (const auto& events : {testing::ReportFixtureEvents(), testing::CancelledReportFixtureEvents()}) {
    const LoadedScan loaded = ParseScanFile(SavedText(events), "scan.json");
    EXPECT_EQ(loaded.started_at, kStartedAt);
    EXPECT_EQ(ReportOf(loaded.events, loaded.started_at), ReportOf(events, kStartedAt));
    ScanSummary original;
    ScanSummary reloaded;
    for (const EncodableValue& event : events) {
      original.Add(event);
    }
    for (const EncodableValue& event : loaded.events) {
      reloaded.Add(event);
    }
    EXPECT_EQ(reloaded.state(), original.state());
    EXPECT_EQ(reloaded.totals().bytes, original.totals().bytes);
    EXPECT_EQ(reloaded.totals().files, original.totals().files);
    EXPECT_EQ(reloaded.duration_ms(), original.duration_ms());
    ASSERT_EQ(reloaded.LargestFiles().size(), original.LargestFiles().size());
    for (size_t index = 0; index < original.LargestFiles().size(); ++index) {
      EXPECT_EQ(reloaded.LargestFiles()[index].path, original.LargestFiles()[index].path);
    }
    // Saved again, the loaded scan gives the same file.
    EXPECT_EQ(SavedText(loaded.events), SavedText(events));
  }
}

TEST(ScanFileTest, TheFileHasTheAgreedShape) {
  const JsonParseResult parsed = ParseJson(SavedText(testing::CancelledReportFixtureEvents()));
  ASSERT_TRUE(parsed.ok());
  const auto& map = std::get<flutter::EncodableMap>(parsed.value);
  EXPECT_EQ(map.at(EncodableValue("format")), EncodableValue("pelmora-scan"));
  EXPECT_EQ(map.at(EncodableValue("version")), EncodableValue(1));
  EXPECT_EQ(map.at(EncodableValue("state")), EncodableValue("cancelled"));
  EXPECT_TRUE(map.at(EncodableValue("durationMs")).IsNull());
  EXPECT_EQ(map.at(EncodableValue("startedAt")), EncodableValue(int32_t{1765400000}));  // JSON gives the narrowest integer
  EXPECT_FALSE(std::get<flutter::EncodableList>(map.at(EncodableValue("entries"))).empty());
  // Where the client could not tell the folder behind the letter, the file does not say.
  EXPECT_EQ(map.count(EncodableValue("folder")), 0u);
}

TEST(ScanFileTest, TheFolderBehindTheLetterIsSavedAndLoaded) {
  ScanRecorder recorder;
  for (const EncodableValue& event : testing::CancelledReportFixtureEvents()) {
    recorder.Add(event, std::chrono::system_clock::time_point(std::chrono::seconds(1765400000)));
  }
  recorder.set_drive_folder("/home/me/Photos");
  const std::string text = FormatJson(recorder.ToValue(), JsonLayout::kCompact);
  EXPECT_EQ(ParseScanFile(text, "saved.json").drive_folder, std::optional<std::string>("/home/me/Photos"));
  EXPECT_EQ(ParseScanFile(SavedText(testing::CancelledReportFixtureEvents()), "saved.json").drive_folder,
            std::nullopt);
}

TEST(ScanFileTest, RefusesFilesThatAreNotASavedScanOfThisVersion) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"not json", "is not JSON"},
      {"[1, 2]", "is not a saved Pelmora scan"},
      {R"({"format": "other", "version": 1})", "is not a saved Pelmora scan"},
      {R"({"format": "pelmora-scan", "version": 2, "root": "P:\\", "state": "completed", "startedAt": 0,
           "entries": []})",
       "version 2; this client reads version 1"},
      {R"({"format": "pelmora-scan", "root": "P:\\"})", "version (none)"},
      {R"({"format": "pelmora-scan", "version": 1, "root": "P:\\", "state": "running", "startedAt": 0,
           "entries": []})",
       "damaged"},
      {R"({"format": "pelmora-scan", "version": 1, "root": "P:\\", "state": "completed", "startedAt": 0})",
       "damaged"},
      {R"({"format": "pelmora-scan", "version": 1, "root": "P:\\", "state": "completed", "startedAt": "x",
           "entries": []})",
       "startedAt"},
      {R"({"format": "pelmora-scan", "version": 1, "root": "P:\\", "state": "completed", "startedAt": 0,
           "entries": [], "folder": "relative/path"})",
       "\"folder\" is not an absolute Linux path"},
  };
  for (const auto& bad : cases) {
    try {
      ParseScanFile(bad.text, "bad.json");
      ADD_FAILURE() << "accepted: " << bad.text;
    } catch (const ScanFileError& error) {
      EXPECT_THAT(error.what(), HasSubstr("bad.json")) << bad.text;
      EXPECT_THAT(error.what(), HasSubstr(bad.message)) << bad.text;
    }
  }
}

class ScanFileCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("pelmora-scan-file-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  int Run(const std::vector<std::string>& arguments) {
    out_.str("");
    err_.str("");
    CliEnvironment environment;
    environment.out = &out_;
    environment.err = &err_;
    return RunCli(arguments, environment);
  }

  fs::path folder_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ScanFileCommandTest, ReportWritesTheReportOfASavedScanWithoutAHost) {
  const fs::path saved = folder_ / "scan.json";
  std::ofstream(saved) << SavedText(testing::ReportFixtureEvents());
  const fs::path html = folder_ / "report.html";
  ASSERT_EQ(Run({"report", saved.string(), html.string()}), kExitSuccess) << err_.str();
  std::ifstream file(html);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), ReportOf(testing::ReportFixtureEvents(), kStartedAt));
}

TEST_F(ScanFileCommandTest, BadOrMissingFilesAreUsageErrorsThatNameTheFile) {
  const fs::path bad = folder_ / "bad.json";
  std::ofstream(bad) << "{\"format\": \"pelmora-scan\", \"version\": 7}";
  EXPECT_EQ(Run({"report", bad.string(), (folder_ / "out.html").string()}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("version 7"));
  EXPECT_FALSE(fs::exists(folder_ / "out.html"));
  EXPECT_EQ(Run({"report", (folder_ / "missing.json").string(), (folder_ / "out.html").string()}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("cannot read"));
  EXPECT_EQ(Run({"report", bad.string()}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("usage: pelmora-cli report FILE.json OUT.html"));
}

}  // namespace
}  // namespace pel_mora::cli
