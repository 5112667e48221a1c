// The dupes command end to end against the fake bridge host.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::Console;
using testing::FakeBridgeHost;
using testing::Outcome;
using testing::RunClientAgainst;
using testing::ScriptedReply;


EncodableValue Group(const std::string& hash, int64_t size, const std::vector<std::string>& paths) {
  EncodableList path_values;
  EncodableList dates;
  for (const std::string& path : paths) {
    path_values.emplace_back(path);
    dates.emplace_back(int64_t{1609459200});
  }
  const auto count = static_cast<int64_t>(paths.size());
  return EncodableValue(EncodableMap{
      {EncodableValue("hash"), EncodableValue(hash)},
      {EncodableValue("fileSize"), EncodableValue(size)},
      {EncodableValue("wastedBytes"), EncodableValue((count - 1) * size)},
      {EncodableValue("count"), EncodableValue(count)},
      {EncodableValue("paths"), EncodableValue(path_values)},
      {EncodableValue("dates"), EncodableValue(dates)},
  });
}


class DupesCommandTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> arguments, bool err_is_terminal = false, unsigned interrupts = 0) {
    Console console{.err_is_terminal = err_is_terminal};
    if (interrupts > 0) {
      console.interrupt_count = [interrupts] { return interrupts; };
    }
    return RunClientAgainst(host_, std::move(arguments), console);
  }

  void Reply(EncodableValue value) {
    host_.set_method_reply("startDuplicateScan", [value](const EncodableValue&) { return ScriptedReply::Success(value); });
  }

  FakeBridgeHost host_;
};

// The host's order is by size; the person sees the groups that waste most first, then the
// total. Equal waste keeps the host's order.
TEST_F(DupesCommandTest, ShowsGroupsByWastedSpaceThenTheTotal) {
  Reply(EncodableValue(EncodableList{
      Group("aa", 512, {"C:\\data\\small-1", "C:\\data\\small-2", "C:\\data\\small-3"}),
      Group("bb", 1024, {"C:\\data\\equal-waste-1", "C:\\data\\equal-waste-2"}),
      Group("cc", 3 * 1024 * 1024, {"C:\\data\\video.mp4", "C:\\data\\copy of video.mp4"}),
  }));
  const Outcome outcome = Run({"dupes", "C:\\data"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, IsEmpty());
  EXPECT_EQ(outcome.out,
            "3 groups of identical files below C:\\data (7 files)\n"
            "\n"
            "3.0 MiB wasted: 2 copies of 3.0 MiB\n"
            "  C:\\data\\video.mp4\n"
            "  C:\\data\\copy of video.mp4\n"
            "\n"
            "1.0 KiB wasted: 3 copies of 512 B\n"
            "  C:\\data\\small-1\n"
            "  C:\\data\\small-2\n"
            "  C:\\data\\small-3\n"
            "\n"
            "1.0 KiB wasted: 2 copies of 1.0 KiB\n"
            "  C:\\data\\equal-waste-1\n"
            "  C:\\data\\equal-waste-2\n"
            "\n"
            "Could be freed by keeping one copy of each: 3.0 MiB (3,147,776 bytes)\n");
  EXPECT_EQ(host_.last_arguments("startDuplicateScan"),
            EncodableValue(EncodableMap{{EncodableValue("rootPath"), EncodableValue("C:\\data")}}));
}

TEST_F(DupesCommandTest, JsonPrintsTheReplyAsTheHostSentIt) {
  Reply(EncodableValue(EncodableList{Group("aa", 512, {"C:\\a", "C:\\b"})}));
  const Outcome outcome = Run({"dupes", "--json", "C:\\"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "[\n"
            "  {\n"
            "    \"count\": 2,\n"
            "    \"dates\": [\n"
            "      1609459200,\n"
            "      1609459200\n"
            "    ],\n"
            "    \"fileSize\": 512,\n"
            "    \"hash\": \"aa\",\n"
            "    \"paths\": [\n"
            "      \"C:\\\\a\",\n"
            "      \"C:\\\\b\"\n"
            "    ],\n"
            "    \"wastedBytes\": 512\n"
            "  }\n"
            "]\n");
}

TEST_F(DupesCommandTest, SaysSoWhenThereAreNoDuplicates) {
  Reply(EncodableValue(EncodableList{}));
  const Outcome outcome = Run({"dupes", "D:\\empty"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out, "No duplicate files below D:\\empty\n");
}

#ifndef _WIN32
TEST_F(DupesCommandTest, GivesALinuxPathItsWineName) {
  Reply(EncodableValue(EncodableList{}));
  const Outcome outcome = Run({"dupes", "/usr/bin"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(host_.last_arguments("startDuplicateScan"),
            EncodableValue(EncodableMap{{EncodableValue("rootPath"), EncodableValue("Z:\\usr\\bin")}}));
  EXPECT_EQ(outcome.out, "No duplicate files below Z:\\usr\\bin\n");
}
#endif

// On a terminal a spinner with the time waited turns on standard error and is wiped before the
// result; elsewhere standard error stays quiet.
TEST_F(DupesCommandTest, SpinsOnATerminalOnly) {
  Reply(EncodableValue(EncodableList{}));
  const Outcome on_terminal = Run({"dupes", "C:\\data"}, true);
  EXPECT_EQ(on_terminal.status, kExitSuccess) << on_terminal.err;
  EXPECT_THAT(on_terminal.err, HasSubstr("\r| Looking for duplicates below C:\\data  "));
  EXPECT_THAT(on_terminal.err, ::testing::EndsWith("\r"));
  EXPECT_THAT(on_terminal.err, Not(HasSubstr("\n")));

  const Outcome elsewhere = Run({"dupes", "C:\\data"}, false);
  EXPECT_EQ(elsewhere.status, kExitSuccess) << elsewhere.err;
  EXPECT_THAT(elsewhere.err, IsEmpty());
}

TEST_F(DupesCommandTest, CtrlCStopsWaiting) {
  Reply(EncodableValue(EncodableList{}));
  const Outcome outcome = Run({"dupes", "C:\\data"}, false, 1);
  EXPECT_EQ(outcome.status, kExitInterrupted);
  EXPECT_THAT(outcome.out, IsEmpty());
}

TEST_F(DupesCommandTest, ReportsErrorAndMalformedReplies) {
  struct Case {
    const char* description;
    ScriptedReply reply;
    int status;
    const char* message;
  };
  ScriptedReply error;
  error.kind = ScriptedReply::Kind::kError;
  error.error_code = "SCAN_ERROR";
  error.error_message = "Failed to find duplicates.";
  EncodableMap without_paths = std::get<EncodableMap>(Group("aa", 512, {"C:\\a", "C:\\b"}));
  without_paths.erase(EncodableValue("paths"));
  const Case cases[] = {
      {"error reply", error, kExitFailure, "error SCAN_ERROR: Failed to find duplicates.\n"},
      {"not a list", ScriptedReply::Success(EncodableValue(true)), kExitUsage, "is not a list of duplicate groups"},
      {"group without paths", ScriptedReply::Success(EncodableValue(EncodableList{EncodableValue(without_paths)})), kExitUsage,
       "a group has no \"paths\""},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.description);
    host_.set_method_reply("startDuplicateScan", [reply = test_case.reply](const EncodableValue&) { return reply; });
    const Outcome outcome = Run({"dupes", "C:\\data"});
    EXPECT_EQ(outcome.status, test_case.status);
    EXPECT_THAT(outcome.err, HasSubstr(test_case.message));
    EXPECT_THAT(outcome.out, IsEmpty());
  }
}

TEST_F(DupesCommandTest, RefusesBadCommandLinesBeforeCallingTheHost) {
  const std::vector<std::string> cases[] = {
      {"dupes"},
      {"dupes", "C:\\a", "C:\\b"},
      {"dupes", ""},
      {"dupes", "--ext", "jpg", "C:\\a"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << ::testing::PrintToString(arguments);
    EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: "));
  }
  EXPECT_FALSE(host_.last_arguments("startDuplicateScan").has_value());
}

}  // namespace
}  // namespace pel_mora::cli
