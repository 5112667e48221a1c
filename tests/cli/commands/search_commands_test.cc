// The search commands against the fake bridge host, and their size and table helpers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/commands/search_results.h"
#include "cli/common/json.h"
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

constexpr char kSearchCall[] = "com.pelmora.app/native searchFiles";
constexpr char kCancelCall[] = "com.pelmora.app/native cancelSearch";

struct SizeCase {
  const char* text;
  std::optional<int64_t> bytes;
};

class SizeTextTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeTextTest, ReadsBytesAndBinaryUnits) { EXPECT_EQ(ParseSizeText(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(
    Sizes,
    SizeTextTest,
    ::testing::Values(SizeCase{"0", 0},
                      SizeCase{"4096", 4096},
                      SizeCase{"512B", 512},
                      SizeCase{"10K", 10240},
                      SizeCase{"10k", 10240},
                      SizeCase{"10KB", 10240},
                      SizeCase{"10KiB", 10240},
                      SizeCase{"2M", 2097152},
                      SizeCase{"1.5G", 1610612736},
                      SizeCase{"0.5k", 512},
                      SizeCase{"1.0001K", 1024},
                      SizeCase{"1T", int64_t{1} << 40},
                      SizeCase{"9223372036854775807", INT64_MAX},
                      SizeCase{"9223372036854775808", std::nullopt},
                      SizeCase{"8388608T", std::nullopt},
                      SizeCase{"", std::nullopt},
                      SizeCase{"-1", std::nullopt},
                      SizeCase{"K", std::nullopt},
                      SizeCase{"1.", std::nullopt},
                      SizeCase{".5K", std::nullopt},
                      SizeCase{"10 K", std::nullopt},
                      SizeCase{"10Ki", std::nullopt},
                      SizeCase{"10iB", std::nullopt},
                      SizeCase{"10X", std::nullopt},
                      SizeCase{"10KB2", std::nullopt}));

TEST(ModifiedTimeTest, IsShownInUtcToTheMinute) {
  EXPECT_EQ(FormatModifiedTime(0), "1970-01-01 00:00");
  EXPECT_EQ(FormatModifiedTime(1'700'000'059), "2023-11-14 22:14");
  EXPECT_EQ(FormatModifiedTime(951'782'400), "2000-02-29 00:00");
  EXPECT_EQ(FormatModifiedTime(-1), "1969-12-31 23:59");
}

EncodableValue FoundFile(const std::string& path, int64_t size, int64_t modified) {
  const std::string name = path.substr(path.find_last_of('\\') + 1);
  return EncodableValue(EncodableMap{{EncodableValue("path"), EncodableValue(path)},
                                     {EncodableValue("name"), EncodableValue(name)},
                                     {EncodableValue("extension"), EncodableValue("")},
                                     {EncodableValue("sizeBytes"), EncodableValue(size)},
                                     {EncodableValue("modifiedTime"), EncodableValue(modified)},
                                     {EncodableValue("isDirectory"), EncodableValue(false)}});
}

const EncodableList kTwoFiles{FoundFile("C:\\data\\annual report.pdf", 1536, 1'700'000'000),
                              FoundFile("C:\\data\\old\\report.pdf", 3 * 1024 * 1024, 0)};


class SearchCommandsTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> arguments, std::function<unsigned()> interrupt_count = nullptr) {
    return RunClientAgainst(host_, std::move(arguments), Console{.interrupt_count = std::move(interrupt_count)});
  }

  void ReplyToSearchWith(EncodableList files, std::string held_until_method = "") {
    host_.set_method_reply("searchFiles", [files = std::move(files), held_until_method](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(files);
      reply.held_until_method = held_until_method;
      return reply;
    });
  }

  FakeBridgeHost host_;
};

struct ArgumentsCase {
  const char* description;
  std::vector<std::string> command_line;
  EncodableMap expected;
};

void PrintTo(const ArgumentsCase& test, std::ostream* stream) { *stream << test.description; }

class SearchArgumentsTest : public SearchCommandsTest, public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(SearchArgumentsTest, SendsTheSearchTheCommandLineAsksFor) {
  ReplyToSearchWith({});
  const Outcome outcome = Run(GetParam().command_line);
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  const std::optional<EncodableValue> sent = host_.last_arguments("searchFiles");
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(*sent, EncodableValue(GetParam().expected));
  // Sizes go as 64-bit integers and the limit as a 32-bit one, whatever their magnitude.
  const auto& map = std::get<EncodableMap>(*sent);
  for (const char* key : {"minSize", "maxSize"}) {
    if (map.count(EncodableValue(key)) != 0) {
      EXPECT_TRUE(std::holds_alternative<int64_t>(map.at(EncodableValue(key)))) << key;
    }
  }
  if (map.count(EncodableValue("maxResults")) != 0) {
    EXPECT_TRUE(std::holds_alternative<int32_t>(map.at(EncodableValue("maxResults"))));
  }
}

EncodableMap SearchArguments(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) {
    map[EncodableValue(key)] = value;
  }
  return map;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines,
    SearchArgumentsTest,
    ::testing::Values(
        ArgumentsCase{"a folder alone",
                      {"search", "C:\\data"},
                      SearchArguments({{"rootPath", EncodableValue("C:\\data")}, {"query", EncodableValue("")}})},
        ArgumentsCase{"words and every option",
                      {"search", "C:\\data", "annual", "Report", "--ext", ".pdf,docx", "--min", "1.5K", "--max",
                       "2M", "--limit", "50"},
                      SearchArguments({{"rootPath", EncodableValue("C:\\data")},
                                       {"query", EncodableValue("annual Report")},
                                       {"extension", EncodableValue(".pdf,docx")},
                                       {"minSize", EncodableValue(int64_t{1536})},
                                       {"maxSize", EncodableValue(int64_t{2097152})},
                                       {"maxResults", EncodableValue(int32_t{50})}})},
        ArgumentsCase{"largest with a count",
                      {"largest", "D:\\", "5"},
                      SearchArguments({{"rootPath", EncodableValue("D:\\")},
                                       {"minSize", EncodableValue(int64_t{1})},
                                       {"maxResults", EncodableValue(int32_t{5})}})},
        ArgumentsCase{"largest without a count",
                      {"largest", "D:\\", "--json"},
                      SearchArguments({{"rootPath", EncodableValue("D:\\")},
                                       {"minSize", EncodableValue(int64_t{1})},
                                       {"maxResults", EncodableValue(int32_t{20})}})}
#ifndef _WIN32
        ,
        ArgumentsCase{"a Linux path gets its Wine name",
                      {"largest", "/usr/share", "3"},
                      SearchArguments({{"rootPath", EncodableValue("Z:\\usr\\share")},
                                       {"minSize", EncodableValue(int64_t{1})},
                                       {"maxResults", EncodableValue(int32_t{3})}})}
#endif
        ));

TEST_F(SearchCommandsTest, PrintsATableOfTheFilesWithTheirTotal) {
  ReplyToSearchWith(kTwoFiles);
  const Outcome outcome = Run({"search", "C:\\data", "report"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, IsEmpty());
  EXPECT_EQ(outcome.out,
            "   Size  Modified (UTC)    Path\n"
            "1.5 KiB  2023-11-14 22:13  C:\\data\\annual report.pdf\n"
            "3.0 MiB  1970-01-01 00:00  C:\\data\\old\\report.pdf\n"
            "2 files, 3.0 MiB\n");
}

TEST_F(SearchCommandsTest, SaysSoWhenNothingMatchesOrTheLimitCutTheListShort) {
  ReplyToSearchWith({});
  Outcome outcome = Run({"search", "C:\\data", "absent"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out, "No matching files.\n");

  ReplyToSearchWith(kTwoFiles);
  outcome = Run({"search", "C:\\data", "--limit", "2"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("stopped at 2 files; --limit N asks for more"));
  // The largest files are a chosen number, not a cut-off list.
  outcome = Run({"largest", "C:\\data", "2"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, IsEmpty());
}

TEST_F(SearchCommandsTest, JsonPrintsTheReplyForScripts) {
  ReplyToSearchWith(kTwoFiles);
  const Outcome outcome = Run({"largest", "C:\\data", "--json"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out, FormatJson(EncodableValue(kTwoFiles), JsonLayout::kIndented) + "\n");
  EXPECT_THAT(outcome.out, HasSubstr("\"sizeBytes\": 3145728"));
}

TEST_F(SearchCommandsTest, CtrlCCancelsTheSearchAndPrintsThePartialList) {
  // The host holds its answer until "cancelSearch" arrives, as a long search would.
  ReplyToSearchWith({kTwoFiles[0]}, "cancelSearch");
  bool pressed = false;
  const Outcome outcome = Run({"search", "C:\\data"}, [this, &pressed] {
    const auto calls = host_.calls();
    pressed = pressed || std::find(calls.begin(), calls.end(), kSearchCall) != calls.end();
    return pressed ? 1u : 0u;
  });
  EXPECT_EQ(outcome.status, kExitInterrupted) << outcome.err;
  EXPECT_THAT(host_.calls(), Contains(kCancelCall));
  EXPECT_THAT(outcome.out, HasSubstr("C:\\data\\annual report.pdf\n1 file, 1.5 KiB\n"));
  EXPECT_THAT(outcome.err, HasSubstr("Search cancelled"));
}

TEST_F(SearchCommandsTest, AnErrorReplyIsReportedAndFails) {
  host_.set_method_reply("searchFiles", [](const EncodableValue&) {
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::kError;
    reply.error_code = "SEARCH_ERROR";
    reply.error_message = "Search failed.";
    return reply;
  });
  const Outcome outcome = Run({"search", "C:\\data"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.err, "error SEARCH_ERROR: Search failed.\n");
  EXPECT_THAT(outcome.out, IsEmpty());
}

struct UsageCase {
  std::vector<std::string> command_line;
  const char* message;
};

class SearchUsageTest : public SearchCommandsTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(SearchUsageTest, RefusesBadCommandLinesBeforeSearching) {
  const Outcome outcome = Run(GetParam().command_line);
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr(GetParam().message));
  EXPECT_THAT(host_.calls(), Not(Contains(kSearchCall)));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines,
    SearchUsageTest,
    ::testing::Values(UsageCase{{"search"}, "usage: pelmora-cli search PATH"},
                      UsageCase{{"search", "C:\\", "--min", "ten"}, "--min takes a size such as"},
                      UsageCase{{"search", "C:\\", "--max", "-1"}, "--max takes a size such as"},
                      UsageCase{{"search", "C:\\", "--min", "2M", "--max", "1M"}, "--min is larger than --max"},
                      UsageCase{{"search", "C:\\", "--limit", "0"}, "--limit must be a whole number"},
                      UsageCase{{"search", "C:\\", "--limit", "2147483648"}, "--limit must be a whole number"},
                      UsageCase{{"largest"}, "usage: pelmora-cli largest PATH [N]"},
                      UsageCase{{"largest", "C:\\", "5", "6"}, "usage: pelmora-cli largest PATH [N]"},
                      UsageCase{{"largest", "C:\\", "many"}, "N must be a whole number"},
                      UsageCase{{"largest", "C:\\", "--ext", "txt"}, "--ext does not go with the largest command"}));

}  // namespace
}  // namespace pel_mora::cli
