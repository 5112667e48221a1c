// recycle and bin against the fake bridge host: what is sent, what is printed, when nothing is
// deleted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>

#include "cli/commands/commands.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::Console;
using testing::FakeBridgeHost;
using testing::Outcome;
using testing::RunClientAgainst;
using testing::ScriptedReply;



EncodableValue Counters(int64_t recycled, int64_t failed, int64_t freed) {
  return EncodableValue(EncodableMap{{EncodableValue("successCount"), EncodableValue(recycled)},
                                     {EncodableValue("failedCount"), EncodableValue(failed)},
                                     {EncodableValue("freedBytes"), EncodableValue(freed)}});
}

EncodableValue BinInfo(int64_t total_bytes, int64_t item_count) {
  return EncodableValue(EncodableMap{{EncodableValue("totalBytes"), EncodableValue(total_bytes)},
                                     {EncodableValue("itemCount"), EncodableValue(item_count)}});
}

class RecycleCommandsTest : public ::testing::Test {
 protected:
  // Runs the client against the fake host; `typed` is what the person types, `terminal` whether
  // standard input is a terminal.
  Outcome Run(std::vector<std::string> arguments, const std::string& typed = "", bool terminal = false) {
    return RunClientAgainst(host_, std::move(arguments), Console{.typed = typed, .in_is_terminal = terminal});
  }

  // The bin holds `before` until "emptyRecycleBin" answers `emptied`, then `after`.
  void ScriptBin(EncodableValue before, bool emptied, EncodableValue after) {
    auto was_emptied = std::make_shared<std::atomic<bool>>(false);
    host_.set_method_reply("getRecycleBinInfo", [=](const EncodableValue&) {
      return ScriptedReply::Success(*was_emptied ? after : before);
    });
    host_.set_method_reply("emptyRecycleBin", [=](const EncodableValue&) {
      *was_emptied = true;
      return ScriptedReply::Success(EncodableValue(emptied));
    });
  }

  std::vector<std::string> NativeCalls() const {
    std::vector<std::string> native;
    for (const std::string& call : host_.calls()) {
      if (call.rfind("com.pelmora.app/native ", 0) == 0) native.push_back(call.substr(call.find(' ') + 1));
    }
    return native;
  }

  FakeBridgeHost host_;
};

TEST_F(RecycleCommandsTest, RecycleSendsEveryPathAndPrintsTheCounters) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(Counters(2, 0, 1536)); });

  const Outcome outcome = Run({"recycle", "C:\\Users\\me\\old.log", "D:/Games/save.dat"});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Recycled  2 paths\n"
            "Failed    0 paths\n"
            "Freed     1.5 KiB\n");
  EXPECT_THAT(outcome.err, IsEmpty());
  EXPECT_EQ(host_.last_arguments("recyclePaths"),
            EncodableValue(EncodableMap{{EncodableValue("paths"),
                                         EncodableValue(EncodableList{EncodableValue("C:\\Users\\me\\old.log"),
                                                                      EncodableValue("D:/Games/save.dat")})}}));
}

#ifndef _WIN32
TEST_F(RecycleCommandsTest, RecycleGivesLinuxPathsTheirWineNames) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(Counters(1, 0, 10)); });

  const Outcome outcome = Run({"recycle", "/tmp/pelmora old/a.txt"});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(host_.last_arguments("recyclePaths"),
            EncodableValue(EncodableMap{
                {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue("Z:\\tmp\\pelmora old\\a.txt")})}}));
}
#endif

TEST_F(RecycleCommandsTest, RecycleWithFailuresSaysSoAndExitsWithFailure) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(Counters(1, 2, 1)); });

  const Outcome outcome = Run({"recycle", "C:\\a", "C:\\Windows\\System32", "C:\\missing"});

  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.out,
            "Recycled  1 path\n"
            "Failed    2 paths\n"
            "Freed     1 B\n");
  EXPECT_THAT(outcome.err, HasSubstr("2 paths not recycled"));
}

TEST_F(RecycleCommandsTest, RecycleJsonPrintsTheReply) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(Counters(1, 0, 1000)); });

  const Outcome outcome = Run({"recycle", "--json", "C:\\a"});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out, "{\n  \"failedCount\": 0,\n  \"freedBytes\": 1000,\n  \"successCount\": 1\n}\n");
}

TEST_F(RecycleCommandsTest, RecycleReportsAnErrorReply) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) {
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::kError;
    reply.error_code = "RECYCLE_ERROR";
    reply.error_message = "Failed to recycle paths.";
    return reply;
  });

  const Outcome outcome = Run({"recycle", "C:\\a"});

  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("RECYCLE_ERROR"));
  EXPECT_THAT(outcome.err, HasSubstr("Failed to recycle paths."));
  EXPECT_THAT(outcome.out, IsEmpty());
}

TEST_F(RecycleCommandsTest, BadCommandLinesAreRefusedBeforeAnyCall) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"recycle"},
      {"recycle", ""},
      {"recycle", "--empty", "C:\\a"},
      {"bin", "extra"},
      {"bin", "--yes"},
      {"bin", "--drive", "C"},
      // Nobody at a terminal can confirm, and --yes was not given.
      {"bin", "--empty"},
  };
  for (const std::vector<std::string>& command_line : command_lines) {
    const Outcome outcome = Run(command_line);
    EXPECT_EQ(outcome.status, kExitUsage) << command_line.front() << ": " << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: "));
  }
  EXPECT_THAT(NativeCalls(), IsEmpty());
  EXPECT_EQ(host_.connections(), 0);
}

TEST_F(RecycleCommandsTest, BinShowsCountAndSize) {
  host_.set_method_reply("getRecycleBinInfo",
                         [](const EncodableValue&) { return ScriptedReply::Success(BinInfo(3 * 1024 * 1024, 1234)); });

  const Outcome table = Run({"bin"});
  EXPECT_EQ(table.status, kExitSuccess) << table.err;
  EXPECT_EQ(table.out, "Recycle Bin: 1,234 items, 3.0 MiB\n");

  const Outcome json = Run({"bin", "--json"});
  EXPECT_EQ(json.status, kExitSuccess) << json.err;
  EXPECT_EQ(json.out, "{\n  \"itemCount\": 1234,\n  \"totalBytes\": 3145728\n}\n");
  EXPECT_THAT(NativeCalls(), Not(Contains("emptyRecycleBin")));
}

struct EmptyCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string typed;
  bool terminal;
  bool host_empties;    // what "emptyRecycleBin" answers
  int64_t items_after;  // what the bin holds after it
  int expected_status;
  bool expect_empty_call;
  const char* expected_err;
};

void PrintTo(const EmptyCase& empty_case, std::ostream* stream) { *stream << empty_case.name; }

class BinEmptyTest : public RecycleCommandsTest, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(BinEmptyTest, EmptiesOnlyWhenConfirmedAndReportsWhatIsLeft) {
  const EmptyCase& empty_case = GetParam();
  ScriptBin(BinInfo(2048, 2), empty_case.host_empties, BinInfo(0, empty_case.items_after));

  const Outcome outcome = Run(empty_case.arguments, empty_case.typed, empty_case.terminal);

  EXPECT_EQ(outcome.status, empty_case.expected_status) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr(empty_case.expected_err));
  if (empty_case.expect_empty_call) {
    EXPECT_THAT(NativeCalls(), ElementsAre("getRecycleBinInfo", "emptyRecycleBin", "getRecycleBinInfo"));
  } else {
    EXPECT_THAT(NativeCalls(), ElementsAre("getRecycleBinInfo"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinEmptyTest,
    ::testing::Values(
        EmptyCase{"ConfirmedAtTheTerminal", {"bin", "--empty"}, "y\n", true, true, 0, kExitSuccess, true,
                  "Permanently delete the 2 items (2.0 KiB) in the Recycle Bin? [y/N] Emptied the Recycle Bin"},
        EmptyCase{"YesWithoutATerminal", {"bin", "--empty", "--yes"}, "", false, true, 0, kExitSuccess, true,
                  "Emptied the Recycle Bin: 2 items, 2.0 KiB freed."},
        EmptyCase{"DeclinedAtTheTerminal", {"bin", "--empty"}, "n\n", true, true, 0, kExitFailure, false,
                  "Nothing deleted."},
        EmptyCase{"NoAnswerAtTheTerminal", {"bin", "--empty"}, "", true, true, 0, kExitFailure, false,
                  "Nothing deleted."},
        EmptyCase{"ShellReportsFailure", {"bin", "--empty", "--yes"}, "", false, false, 2, kExitFailure, true,
                  "the Recycle Bin could not be emptied"},
        EmptyCase{"ShellReportsSuccessButItemsRemain", {"bin", "--empty", "--yes"}, "", false, true, 1, kExitFailure,
                  true, "but 1 item remains"}),
    [](const ::testing::TestParamInfo<EmptyCase>& info) { return std::string(info.param.name); });

TEST_F(RecycleCommandsTest, EmptyingAnEmptyBinAsksNothingAndCallsNothing) {
  ScriptBin(BinInfo(0, 0), true, BinInfo(0, 0));

  const Outcome outcome = Run({"bin", "--empty"}, "", true);

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("already empty"));
  EXPECT_THAT(outcome.err, Not(HasSubstr("[y/N]")));
  EXPECT_THAT(NativeCalls(), ElementsAre("getRecycleBinInfo"));
}

TEST_F(RecycleCommandsTest, HelpListsBothCommands) {
  const Outcome outcome = Run({"--help"});
  EXPECT_THAT(outcome.out + outcome.err, HasSubstr("\n  recycle PATH...      move files and folders"));
  EXPECT_THAT(outcome.out + outcome.err, HasSubstr("\n  bin [--empty]        show the Recycle Bin"));
}

}  // namespace
}  // namespace pel_mora::cli
