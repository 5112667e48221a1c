// recycle and bin against the fake bridge host: what is sent, what is printed, when nothing is
// deleted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>
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

// The host recycles every path asked for except those in `refused`, freeing 512 bytes each, and
// records which paths it was asked about, one list per call.
void ScriptRecycle(FakeBridgeHost& host, std::set<std::string> refused,
                   std::shared_ptr<std::vector<EncodableList>> asked) {
  auto guard = std::make_shared<std::mutex>();
  host.set_method_reply("recyclePaths", [=](const EncodableValue& arguments) {
    const EncodableList& paths =
        std::get<EncodableList>(std::get<EncodableMap>(arguments).at(EncodableValue("paths")));
    int64_t recycled = 0;
    for (const EncodableValue& path : paths) {
      recycled += refused.count(std::get<std::string>(path)) == 0 ? 1 : 0;
    }
    {
      const std::lock_guard<std::mutex> lock(*guard);
      asked->push_back(paths);
    }
    return ScriptedReply::Success(
        Counters(recycled, static_cast<int64_t>(paths.size()) - recycled, recycled * 512));
  });
}

TEST_F(RecycleCommandsTest, RecycleAsksForEachPathAloneAndNamesEveryOne) {
  auto asked = std::make_shared<std::vector<EncodableList>>();
  ScriptRecycle(host_, {}, asked);

  const Outcome outcome = Run({"recycle", "C:\\Users\\me\\old.log", "D:/Games/save.dat"});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "recycled      C:\\Users\\me\\old.log (512 B)\n"
            "recycled      D:/Games/save.dat (512 B)\n"
            "Recycled  2 paths\n"
            "Failed    0 paths\n"
            "Freed     1.0 KiB\n");
  EXPECT_THAT(outcome.err, IsEmpty());
  EXPECT_THAT(*asked, ElementsAre(EncodableList{EncodableValue("C:\\Users\\me\\old.log")},
                                  EncodableList{EncodableValue("D:/Games/save.dat")}));
}

#ifndef _WIN32
TEST_F(RecycleCommandsTest, RecycleGivesLinuxPathsTheirWineNames) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(Counters(1, 0, 10)); });

  const Outcome outcome = Run({"recycle", "/tmp"});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(host_.last_arguments("recyclePaths"),
            EncodableValue(EncodableMap{
                {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue("Z:\\tmp")})}}));
}

// Each way a path can stay where it is, with what the person reads and what --json says; the host
// is asked only about the paths the client could not judge itself.
TEST_F(RecycleCommandsTest, RecycleSaysWhyEachPathWasNotRecycled) {
  auto asked = std::make_shared<std::vector<EncodableList>>();
  ScriptRecycle(host_, {"C:\\Windows\\System32"}, asked);
  const std::string missing = "/tmp/pelmora-recycle-test-no-such-file";

  const Outcome outcome = Run({"recycle", "C:\\a", "C:\\", "d:/", missing, "C:\\Windows\\System32", "/"});

  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.out,
            "recycled      C:\\a (512 B)\n"
            "not recycled  C:\\: a drive root, which is never recycled\n"
            "not recycled  d:/: a drive root, which is never recycled\n"
            "not recycled  " + missing + ": no such file or folder\n"
            "not recycled  C:\\Windows\\System32: the host refused it or could not recycle it (protected, in use, "
            "or on a drive without a Recycle Bin)\n"
            "not recycled  /: a drive root, which is never recycled\n"
            "Recycled  1 path\n"
            "Failed    5 paths\n"
            "Freed     512 B\n");
  EXPECT_THAT(outcome.err, HasSubstr("5 paths not recycled"));
  EXPECT_THAT(*asked, ElementsAre(EncodableList{EncodableValue("C:\\a")},
                                  EncodableList{EncodableValue("C:\\Windows\\System32")}));

  const Outcome json = Run({"recycle", "--json", "C:\\a", "C:\\", missing, "C:\\Windows\\System32"});

  EXPECT_EQ(json.status, kExitFailure);
  EXPECT_THAT(json.out, HasSubstr("\"path\": \"C:\\\\a\",\n      \"recycled\": true"));
  EXPECT_THAT(json.out, HasSubstr("\"freedBytes\": 512,\n      \"hostPath\": \"C:\\\\a\""));
  EXPECT_THAT(json.out, HasSubstr("\"reason\": \"driveRoot\""));
  EXPECT_THAT(json.out, HasSubstr("\"hostPath\": \"Z:\\\\tmp\\\\pelmora-recycle-test-no-such-file\",\n"
                                  "      \"message\": \"no such file or folder\",\n"
                                  "      \"path\": \"" + missing + "\",\n"
                                  "      \"reason\": \"missing\""));
  EXPECT_THAT(json.out, HasSubstr("\"reason\": \"refusedByHost\""));
  EXPECT_THAT(json.out, HasSubstr("\"failedCount\": 3,\n  \"freedBytes\": 512,\n"));
  EXPECT_THAT(json.out, HasSubstr("\"successCount\": 1\n}\n"));
}
#endif

// A name that ends in a dot or a space is never sent: Windows would read "contract.pdf." as
// "contract.pdf" and the host would refuse it rather than move that file; the person reads why.
TEST_F(RecycleCommandsTest, RecycleRefusesNamesEndingInADotOrSpaceAndSaysWhy) {
  auto asked = std::make_shared<std::vector<EncodableList>>();
  ScriptRecycle(host_, {}, asked);

  const Outcome outcome = Run({"recycle", "D:\\Docs\\contract.pdf.", "D:\\Album \\photo.jpg", "D:\\Docs\\..\\a.b"});

  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.out,
            "not recycled  D:\\Docs\\contract.pdf.: the name \"contract.pdf.\" ends in a dot or a space, which "
            "Windows reads as \"contract.pdf\"; rename it to recycle it\n"
            "not recycled  D:\\Album \\photo.jpg: the name \"Album \" ends in a dot or a space, which Windows reads "
            "as \"Album\"; rename it to recycle it\n"
            "recycled      D:\\Docs\\..\\a.b (512 B)\n"
            "Recycled  1 path\n"
            "Failed    2 paths\n"
            "Freed     512 B\n");
  EXPECT_THAT(*asked, ElementsAre(EncodableList{EncodableValue("D:\\Docs\\..\\a.b")}));
  const Outcome json = Run({"recycle", "--json", "D:\\Docs\\contract.pdf."});
  EXPECT_THAT(json.out, HasSubstr("\"reason\": \"nameEndsInDotOrSpace\""));
}

TEST_F(RecycleCommandsTest, RecycleGoesOnAfterAnErrorReplyAndNamesIt) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue& arguments) {
    const EncodableList& paths =
        std::get<EncodableList>(std::get<EncodableMap>(arguments).at(EncodableValue("paths")));
    if (paths.at(0) == EncodableValue("C:\\b")) return ScriptedReply::Success(Counters(1, 0, 7));
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::kError;
    reply.error_code = "RECYCLE_ERROR";
    reply.error_message = "Failed to recycle paths.";
    return reply;
  });

  const Outcome outcome = Run({"recycle", "C:\\a", "C:\\b"});

  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.out,
            "not recycled  C:\\a: the host could not recycle it: RECYCLE_ERROR: Failed to recycle paths.\n"
            "recycled      C:\\b (7 B)\n"
            "Recycled  1 path\n"
            "Failed    1 path\n"
            "Freed     7 B\n");
  EXPECT_THAT(outcome.err, HasSubstr("1 path not recycled"));
}

TEST_F(RecycleCommandsTest, RecycleStopsAtAReplyThatIsNotAMap) {
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) { return ScriptedReply::Success(EncodableValue(3)); });

  const Outcome outcome = Run({"recycle", "C:\\a", "C:\\b"});

  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("the reply to \"recyclePaths\" is not a map"));
  EXPECT_THAT(outcome.out, HasSubstr("Recycled  0 paths\n"));
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
