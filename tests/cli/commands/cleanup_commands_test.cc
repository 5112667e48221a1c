// The categories and clean commands against the fake bridge host.

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
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::Console;
using testing::FakeBridgeHost;
using testing::Outcome;
using testing::RunClientAgainst;
using testing::ScriptedReply;


EncodableValue Category(const std::string& id, const std::string& name, const std::string& group, int64_t bytes,
                        int64_t items) {
  return EncodableValue(EncodableMap{
      {EncodableValue("id"), EncodableValue(id)},
      {EncodableValue("name"), EncodableValue(name)},
      {EncodableValue("description"), EncodableValue("...")},
      {EncodableValue("group"), EncodableValue(group)},
      {EncodableValue("isSafe"), EncodableValue(true)},
      {EncodableValue("totalBytes"), EncodableValue(bytes)},
      {EncodableValue("itemCount"), EncodableValue(items)},
  });
}

EncodableValue BreakdownEntry(const std::string& id, const std::string& name, int64_t bytes, int64_t items) {
  return EncodableValue(EncodableMap{
      {EncodableValue("id"), EncodableValue(id)},
      {EncodableValue("name"), EncodableValue(name)},
      {EncodableValue("bytes"), EncodableValue(bytes)},
      {EncodableValue("itemCount"), EncodableValue(items)},
  });
}

const char kCleanCall[] = "com.pelmora.app/native performCleanup";

class CleanupCommandsTest : public ::testing::Test {
 protected:
  CleanupCommandsTest() {
    host_.set_method_reply("scanCleanableCategories", [](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(EncodableList{
          Category("recycle_bin", "Drive Recycle Bin", "RecycleBin", 0, 0),
          Category("drive_temp", "Drive Temporary Files", "System", 1536, 3),
          Category("chkdsk_fragments", "Chkdsk & Error Fragments", "System", 3221225472, 1234),
      });
      return reply;
    });
    host_.set_method_reply("performCleanup", [this](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(EncodableMap{
          {EncodableValue("bytesCleaned"), EncodableValue(int64_t{1024})},
          {EncodableValue("itemsDeleted"), EncodableValue(int64_t{2})},
          {EncodableValue("errorsCount"), EncodableValue(errors_)},
          {EncodableValue("breakdown"), EncodableValue(EncodableList{
                                            BreakdownEntry("drive_temp", "Drive Temporary Files", 1024, 2),
                                        })},
      });
      return reply;
    });
  }

  Outcome Run(std::vector<std::string> arguments, const std::string& input = "", bool terminal = false) {
    return RunClientAgainst(host_, std::move(arguments), Console{.typed = input, .in_is_terminal = terminal});
  }

  FakeBridgeHost host_;
  int64_t errors_ = 0;
};

TEST_F(CleanupCommandsTest, CategoriesShowsATableWithATotal) {
  const Outcome outcome = Run({"categories", "e:"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "ID                NAME                      GROUP       FILES     SIZE\n"
            "recycle_bin       Drive Recycle Bin         RecycleBin      0      0 B\n"
            "drive_temp        Drive Temporary Files     System          3  1.5 KiB\n"
            "chkdsk_fragments  Chkdsk & Error Fragments  System      1,234  3.0 GiB\n"
            "\n"
            "Total                                                   1,237  3.0 GiB\n");
  EXPECT_EQ(host_.last_arguments("scanCleanableCategories"),
            EncodableValue(EncodableMap{{EncodableValue("driveLetter"), EncodableValue("E")}}));
}

TEST_F(CleanupCommandsTest, CategoriesWithoutALetterAsksForTheSystemDriveAndJsonPrintsTheReply) {
  const Outcome outcome = Run({"categories", "--json"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(host_.last_arguments("scanCleanableCategories"), EncodableValue());
  EXPECT_THAT(outcome.out, HasSubstr("\"id\": \"chkdsk_fragments\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"totalBytes\": 3221225472"));
}

TEST_F(CleanupCommandsTest, BadCommandLinesAreRefusedBeforeAnythingIsCalled) {
  struct UsageCase {
    std::vector<std::string> arguments;
    const char* message;
  };
  const UsageCase cases[] = {
      {{"categories", "7"}, "drive letter"},
      {{"categories", "C", "D"}, "usage: pelmora-cli categories"},
      {{"clean"}, "usage: pelmora-cli clean"},
      {{"clean", "drive_temp", "--drive", "??"}, "drive letter"},
      {{"categories", "--yes"}, "--yes does not go with the categories command"},
  };
  for (const UsageCase& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << test_case.message;
    EXPECT_THAT(outcome.err, HasSubstr(test_case.message));
  }
  EXPECT_THAT(host_.calls(), IsEmpty());
}

TEST_F(CleanupCommandsTest, CleanWithYesShowsWhatGoesThenDeletesAndPrintsTheBreakdown) {
  const Outcome outcome = Run({"clean", "drive_temp", "--drive", "E", "--yes"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("will be deleted permanently"));
  EXPECT_THAT(outcome.err, HasSubstr("Drive Temporary Files      3  1.5 KiB"));
  EXPECT_EQ(host_.last_arguments("performCleanup"),
            EncodableValue(EncodableMap{
                {EncodableValue("categories"), EncodableValue(EncodableList{EncodableValue("drive_temp")})},
                {EncodableValue("driveLetter"), EncodableValue("E")},
            }));
  EXPECT_EQ(outcome.out,
            "ID          NAME                   DELETED    FREED\n"
            "drive_temp  Drive Temporary Files        2  1.0 KiB\n"
            "\n"
            "Total                                    2  1.0 KiB\n");
}

TEST_F(CleanupCommandsTest, CleanAsksAtATerminalAndDeletesOnlyOnYes) {
  struct AnswerCase {
    const char* answer;
    bool deletes;
  };
  for (const AnswerCase& test_case : {AnswerCase{"n\n", false}, AnswerCase{"\n", false}, AnswerCase{"", false},
                                      AnswerCase{"yes\n", true}}) {
    const size_t before = host_.calls().size();
    const Outcome outcome = Run({"clean", "drive_temp", "chkdsk_fragments"}, test_case.answer, true);
    EXPECT_THAT(outcome.err, HasSubstr("Delete 1,237 files (3.0 GiB)? [y/N]")) << test_case.answer;
    const std::vector<std::string> calls = host_.calls();
    const bool deleted = std::find(calls.begin() + static_cast<long>(before), calls.end(), kCleanCall) != calls.end();
    EXPECT_EQ(deleted, test_case.deletes) << test_case.answer;
    EXPECT_EQ(outcome.status, test_case.deletes ? kExitSuccess : kExitFailure) << test_case.answer;
  }
}

TEST_F(CleanupCommandsTest, CleanRefusesWithoutYesWhenNobodyCanAnswer) {
  const Outcome outcome = Run({"clean", "drive_temp"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("--yes"));
  EXPECT_THAT(host_.calls(), Not(Contains(kCleanCall)));
}

TEST_F(CleanupCommandsTest, CleanRefusesAnIdTheDriveDoesNotList) {
  const Outcome outcome = Run({"clean", "drive_temp", "user_temp", "--drive", "E", "--yes"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("\"user_temp\" is not a category of drive E: (recycle_bin, drive_temp, "
                                     "chkdsk_fragments)"));
  EXPECT_THAT(host_.calls(), Not(Contains(kCleanCall)));
}

TEST_F(CleanupCommandsTest, FilesThatCouldNotBeDeletedMakeTheCommandFail) {
  errors_ = 2;
  const Outcome outcome = Run({"clean", "drive_temp", "--yes"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("2 files could not be deleted"));
  EXPECT_THAT(outcome.out, HasSubstr("Total"));
}

TEST_F(CleanupCommandsTest, EmptyingTheRecycleBinSaysWhatItStillHolds) {
  struct BinCase {
    std::vector<std::string> arguments;
    int64_t items_left;
    int status;
    const char* said;
  };
  const BinCase cases[] = {
      // All drives' bins were asked to be emptied: anything left means the clean-up fell short.
      {{"clean", "recycle_bin", "--yes"}, 2, kExitFailure, "the Recycle Bin still holds 2 items (3.0 KiB)"},
      {{"clean", "recycle_bin", "--yes"}, 0, kExitSuccess, ""},
      // One drive's bin: the others may hold items, which is only mentioned.
      {{"clean", "recycle_bin", "--drive", "E", "--yes"}, 1, kExitSuccess,
       "The Recycle Bins of all drives still hold 1 item (3.0 KiB)."},
  };
  for (const BinCase& test_case : cases) {
    host_.set_method_reply("getRecycleBinInfo", [&test_case](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(EncodableMap{
          {EncodableValue("totalBytes"), EncodableValue(int64_t{3072})},
          {EncodableValue("itemCount"), EncodableValue(test_case.items_left)},
      });
      return reply;
    });
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, test_case.status) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr(test_case.said));
    EXPECT_THAT(host_.calls(), Contains("com.pelmora.app/native getRecycleBinInfo"));
  }
}

TEST_F(CleanupCommandsTest, AnErrorReplyOfTheMeasurementStopsBeforeDeleting) {
  host_.set_method_reply("scanCleanableCategories", [](const EncodableValue&) {
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::kError;
    reply.error_code = "SCAN_ERROR";
    reply.error_message = "Failed to scan cleanable categories.";
    return reply;
  });
  const Outcome outcome = Run({"clean", "drive_temp", "--yes"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("error SCAN_ERROR: Failed to scan cleanable categories."));
  EXPECT_THAT(host_.calls(), Not(Contains(kCleanCall)));
}

}  // namespace
}  // namespace pel_mora::cli
