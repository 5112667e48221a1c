// The commands end to end against the fake bridge host: real sockets, real frames, the codec.

#include "cli/commands/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/common/json.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::BatchEvent;
using testing::CancelledEvent;
using testing::CompletedEvent;
using testing::DriveRecord;
using testing::Console;
using testing::FakeBridgeHost;
using testing::Outcome;
using testing::RunClientAgainst;
using testing::FileEntry;
using testing::FolderEntry;
using testing::HelloBehaviour;
using testing::InaccessibleEntry;
using testing::ScanScript;
using testing::StartedEvent;

class CommandsTest : public ::testing::Test {
 protected:
  // Runs the client against the fake host (--port is added), with string streams for output.
  Outcome Run(std::vector<std::string> arguments, std::function<unsigned()> interrupt_count = nullptr) {
    return RunClientAgainst(host_, std::move(arguments), Console{.interrupt_count = std::move(interrupt_count)});
  }

  Outcome RunWithoutPort(const std::vector<std::string>& arguments, std::function<unsigned()> interrupt_count = nullptr) {
    std::ostringstream out;
    std::ostringstream err;
    CliEnvironment environment;
    environment.out = &out;
    environment.err = &err;
    environment.interrupt_count = std::move(interrupt_count);
    const int status = RunCli(arguments, environment);
    return {status, out.str(), err.str()};
  }

  FakeBridgeHost host_;
};

TEST_F(CommandsTest, CallPrintsTheReplyAsJson) {
  host_.set_drives({DriveRecord("C", 3, true, "System", "NTFS", 4294967296, 1073741824)});
  const Outcome outcome = Run({"call", "getDrives"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, IsEmpty());
  EXPECT_EQ(outcome.out,
            "[\n"
            "  {\n"
            "    \"driveLetter\": \"C\",\n"
            "    \"driveType\": 3,\n"
            "    \"fileSystem\": \"NTFS\",\n"
            "    \"freeBytes\": 1073741824,\n"
            "    \"isReady\": true,\n"
            "    \"totalBytes\": 4294967296,\n"
            "    \"usedBytes\": 3221225472,\n"
            "    \"volumeName\": \"System\"\n"
            "  }\n"
            "]\n");
  // A call without JSON carries no arguments (null on the wire).
  EXPECT_THAT(host_.last_arguments("getDrives"), ::testing::Optional(EncodableValue()));
}

TEST_F(CommandsTest, CallSendsJsonArgumentsAsCodecValues) {
  const Outcome outcome =
      Run({"call", "echo", R"({"small": 2147483647, "large": 2147483648, "negative": -2147483649, "real": 0.5,
                               "text": "\u00e9", "flag": false, "nothing": null, "list": [1, "a"]})"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  const EncodableValue expected(EncodableMap{
      {EncodableValue("small"), EncodableValue(int32_t{2147483647})},
      {EncodableValue("large"), EncodableValue(int64_t{2147483648})},
      {EncodableValue("negative"), EncodableValue(int64_t{-2147483649})},
      {EncodableValue("real"), EncodableValue(0.5)},
      {EncodableValue("text"), EncodableValue(std::string("\xC3\xA9"))},
      {EncodableValue("flag"), EncodableValue(false)},
      {EncodableValue("nothing"), EncodableValue()},
      {EncodableValue("list"), EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue("a")})},
  });
  const std::optional<EncodableValue> received = host_.last_arguments("echo");
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(*received, expected);
  // Integer widths survive the trip: each member keeps its own alternative.
  const auto& map = std::get<EncodableMap>(*received);
  EXPECT_TRUE(std::holds_alternative<int32_t>(map.at(EncodableValue("small"))));
  EXPECT_TRUE(std::holds_alternative<int64_t>(map.at(EncodableValue("large"))));
  // The echoed reply prints back as the same JSON.
  EXPECT_EQ(ParseJson(outcome.out).value, expected);
}

TEST_F(CommandsTest, CallWithRawAlsoPrintsTheReplyBytes) {
  const Outcome outcome = Run({"--raw", "call", "echo", "\"hi\""});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  // Success envelope 00, string type 07, length 02, then "hi".
  EXPECT_EQ(outcome.out, "raw reply (5 bytes):\n  000000  00 07 02 68 69\n\"hi\"\n");
}

TEST_F(CommandsTest, CallReportsAnErrorReplyWithStatusOne) {
  const Outcome outcome = Run({"call", "startScan", R"({"driveLetter": 5})"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.out, IsEmpty());
  EXPECT_EQ(outcome.err, "error INVALID_ARGS: driveLetter must be a non-empty string.\n");
}

TEST_F(CommandsTest, ScriptedRepliesOfTheFakeHost) {
  host_.set_method_reply("getRecycleBinInfo", [](const EncodableValue&) {
    testing::ScriptedReply reply = testing::ScriptedReply::Error("RECYCLE_BIN_ERROR", "Failed.");
    reply.value = EncodableValue(7);
    return reply;
  });
  const Outcome error = Run({"call", "getRecycleBinInfo"});
  EXPECT_EQ(error.status, kExitFailure);
  EXPECT_EQ(error.err, "error RECYCLE_BIN_ERROR: Failed.\ndetails: 7\n");
}

TEST_F(CommandsTest, CallOfAnUnknownMethodIsNotImplemented) {
  const Outcome outcome = Run({"--raw", "call", "noSuchMethod", "[]"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.out, "raw reply (0 bytes)\n");
  EXPECT_EQ(outcome.err, "pelmora-cli: the host does not implement \"noSuchMethod\" (empty response)\n");
}

TEST_F(CommandsTest, BadCommandLinesFailBeforeAnyConnection) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"call", "echo", "{\"a\": }"}, "pelmora-cli: bad JSON argument: expected a value, found character '}' at line 1, column 7\n"},
      {{"call", "echo", "2147483648e"}, "pelmora-cli: bad JSON argument: expected a digit in the exponent"},
      {{"call"}, "pelmora-cli: usage: pelmora-cli call METHOD [JSON]\n"},
      {{"call", "a", "1", "2"}, "pelmora-cli: usage: pelmora-cli call METHOD [JSON]\n"},
      {{"frobnicate"}, "pelmora-cli: unknown command \"frobnicate\" (see pelmora-cli --help)\n"},
      {{"drives", "extra"}, "pelmora-cli: usage: pelmora-cli drives\n"},
      {{"scan", "1"}, "pelmora-cli: \"1\" is not a drive letter (A to Z)\n"},
      {{"scan", "CD"}, "pelmora-cli: \"CD\" is not a drive letter (A to Z)\n"},
      {{"--bogus", "drives"}, "pelmora-cli: unknown option --bogus (see pelmora-cli --help)\n"},
      {{"--port", "0", "drives"}, "--port needs a port number from 1 to 65535, not \"0\""},
      {{"--port", "65536", "drives"}, "--port needs a port number from 1 to 65535"},
      {{"--raw=yes", "drives"}, "option --raw takes no value"},
      {{"--report", "drives.html", "drives"}, "pelmora-cli: --report goes with the scan command only\n"},
      {{"--report=", "scan", "T"}, "--report needs the path of the HTML file to write"},
      {{"--yes", "drives"}, "pelmora-cli: --yes does not go with the drives command\n"},
      {{"map", "--yes"}, "pelmora-cli: --yes does not go with the map command\n"},
      {{"drives", "--drive"}, "option --drive needs a value"},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << test_case.arguments[0];
    EXPECT_THAT(outcome.err, HasSubstr(test_case.message));
    // One line, never a trace.
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  }
  EXPECT_EQ(host_.connections(), 0);
}

TEST_F(CommandsTest, HelpAndMissingCommand) {
  const Outcome help = RunWithoutPort({"--help"});
  EXPECT_EQ(help.status, kExitSuccess);
  EXPECT_THAT(help.out, AllOf(HasSubstr("call METHOD [JSON]"), HasSubstr("scan LETTER"), HasSubstr("map LETTER FOLDER")));
  const Outcome nothing = RunWithoutPort({});
  EXPECT_EQ(nothing.status, kExitUsage);
  EXPECT_THAT(nothing.err, HasSubstr("Usage: pelmora-cli"));
}

TEST_F(CommandsTest, VersionAndTheHelpOfOneCommand) {
  const Outcome version = RunWithoutPort({"--version"});
  EXPECT_EQ(version.status, kExitSuccess);
  EXPECT_EQ(version.out, "pelmora-cli 1.0.0\n");

  struct Case {
    std::vector<std::string> arguments;
    std::string shown;      // a line of the command's help
    std::string not_shown;  // a line of another command's help
  };
  const Case cases[] = {
      {{"help", "scan"}, "  scan LETTER|FOLDER ", "  drives "},
      {{"scan", "--help"}, "  scan LETTER|FOLDER ", "  call "},
      {{"help", "map"}, "  map                  list", "  scan "},
      {{"help", "call"}, "secureDelete", "  drives "},
      {{"dupes", "--help"}, "  dupes PATH", "  search "},
      {{"-h", "secret"}, "  secret rm KEY", "  verify "},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = RunWithoutPort(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitSuccess) << test_case.arguments[0];
    EXPECT_THAT(outcome.out, AllOf(HasSubstr(test_case.shown), Not(HasSubstr(test_case.not_shown))))
        << outcome.out;
  }
  const Outcome unknown = RunWithoutPort({"help", "frobnicate"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err, "pelmora-cli: unknown command \"frobnicate\" (see pelmora-cli --help)\n");
}

TEST_F(CommandsTest, DrivesWithJsonPrintsTheReply) {
  host_.set_drives({DriveRecord("C:\\", 3, true, "System", "NTFS", 1000, 400)});
  const Outcome outcome = Run({"drives", "--json"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  const JsonParseResult parsed = ParseJson(outcome.out);
  ASSERT_TRUE(parsed.ok()) << outcome.out;
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("\"fileSystem\": \"NTFS\""), HasSubstr("\"volumeName\": \"System\"")));
}

TEST_F(CommandsTest, WithoutAPlatformTheClientAsksForAPort) {
  const Outcome outcome = RunWithoutPort({"drives"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("pass the port it prints with --port N"));
  const Outcome map = RunWithoutPort({"map", "Q", "/tmp"});
  EXPECT_EQ(map.status, kExitUsage);
  EXPECT_THAT(map.err, HasSubstr("this build has none"));
}

TEST_F(CommandsTest, ConnectionFailuresAreOneLineWithStatusTwo) {
  uint16_t closed_port = 0;
  {
    // A port that was just free: nothing listens there any more.
    const std::unique_ptr<LocalListener> listener = ListenOnLocalPort(0);
    closed_port = listener->port();
  }
  const Outcome refused = RunWithoutPort({"--port", std::to_string(closed_port), "drives"});
  EXPECT_EQ(refused.status, kExitUsage);
  EXPECT_THAT(refused.err, HasSubstr("pelmora-cli: cannot connect to the host on 127.0.0.1:" + std::to_string(closed_port)));

  const Outcome dropped = Run({"call", "dropConnection"});
  EXPECT_EQ(dropped.status, kExitUsage);
  EXPECT_EQ(dropped.err, "pelmora-cli: the host closed the connection\n");

  const Outcome garbled = Run({"call", "sendBadFrame"});
  EXPECT_EQ(garbled.status, kExitUsage);
  EXPECT_EQ(garbled.err, "pelmora-cli: malformed frame from the host: unknown frame kind 9\n");
}

TEST_F(CommandsTest, AHostThatServesAnotherInterfaceIsReported) {
  host_.set_hello_behaviour(HelloBehaviour::kCloseAtOnce);
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("closed the connection before its hello"));
}

TEST_F(CommandsTest, DrivesPrintsATable) {
  host_.set_drives({DriveRecord("C", 3, true, "System", "NTFS", 107374182400, 13207024435),
                    DriveRecord("E", 2, false, "", "", 0, 0)});
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Drive  Type       Label   File system      Used      Free      Total\n"
            "C:     Fixed      System  NTFS         87.7 GiB  12.3 GiB  100.0 GiB\n"
            "E:     Removable                              -         -          -\n");
}

ScanScript CompletedScan() {
  ScanScript script;
  script.events = {
      // Left over from an earlier client's scan: must not end this one.
      CancelledEvent(),
      StartedEvent("T:\\"),
      BatchEvent({FileEntry("T:\\docs\\a.txt", 300), FileEntry("T:\\docs\\b.bin", 5000), FolderEntry("T:\\docs", 5300)},
                 2, 1, 5300),
      BatchEvent({FileEntry("T:\\big.iso", 3221225472), InaccessibleEntry("T:\\locked"), FolderEntry("T:\\locked", 0)},
                 3, 2, 3221230772),
      CompletedEvent(3, 2, 3221230772, 1234),
  };
  return script;
}

TEST_F(CommandsTest, ScanPrintsTotalsAndLargestEntries) {
  host_.set_scan_script(CompletedScan());
  const Outcome outcome = Run({"scan", "t:"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Scan of T:\\ completed in 1.2 s\n"
            "  Files:    3\n"
            "  Folders:  2\n"
            "  Size:     3.0 GiB (3,221,230,772 bytes)\n"
            "  Unreadable folders: 1\n"
            "\n"
            "Largest folders:\n"
            "  5.2 KiB  T:\\docs\n"
            "      0 B  T:\\locked\n"
            "\n"
            "Largest files:\n"
            "  3.0 GiB  T:\\big.iso\n"
            "  4.9 KiB  T:\\docs\\b.bin\n"
            "    300 B  T:\\docs\\a.txt\n");
  EXPECT_THAT(host_.calls(), ElementsAre("com.pelmora.app/scan listen", "com.pelmora.app/native startScan",
                                         "com.pelmora.app/scan cancel"));
  EXPECT_EQ(host_.last_arguments("startScan"),
            EncodableValue(EncodableMap{{EncodableValue("driveLetter"), EncodableValue("T")}}));
}

TEST_F(CommandsTest, ScanWithJsonPrintsTheSummaryForScripts) {
  host_.set_scan_script(CompletedScan());
  const Outcome outcome = Run({"scan", "T", "--json"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  const auto entry = [](const char* path, int64_t size) {
    return EncodableValue(EncodableMap{{EncodableValue("path"), EncodableValue(path)},
                                       {EncodableValue("sizeBytes"), EncodableValue(size)}});
  };
  const EncodableValue expected(EncodableMap{
      {EncodableValue("root"), EncodableValue("T:\\")},
      {EncodableValue("state"), EncodableValue("completed")},
      {EncodableValue("durationMs"), EncodableValue(int32_t{1234})},
      {EncodableValue("totalFiles"), EncodableValue(int32_t{3})},
      {EncodableValue("totalFolders"), EncodableValue(int32_t{2})},
      {EncodableValue("totalBytes"), EncodableValue(int64_t{3221230772})},
      {EncodableValue("unreadableFolders"), EncodableValue(int32_t{1})},
      {EncodableValue("largestFolders"),
       EncodableValue(EncodableList{entry("T:\\docs", 5300), entry("T:\\locked", 0)})},
      {EncodableValue("largestFiles"), EncodableValue(EncodableList{entry("T:\\big.iso", 3221225472),
                                                                    entry("T:\\docs\\b.bin", 5000),
                                                                    entry("T:\\docs\\a.txt", 300)})},
  });
  const JsonParseResult parsed = ParseJson(outcome.out);
  ASSERT_TRUE(parsed.ok()) << outcome.out;
  // Compared as JSON text: a parsed number takes the narrowest integer type that holds it.
  EXPECT_EQ(FormatJson(parsed.value, JsonLayout::kCompact), FormatJson(expected, JsonLayout::kCompact));
}

TEST_F(CommandsTest, ScanWithReportWritesThePage) {
  host_.set_scan_script(CompletedScan());
  const std::string path = ::testing::TempDir() + "pelmora-commands-report.html";
  std::remove(path.c_str());
  const Outcome outcome = Run({"scan", "--report", path, "T"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("Scan of T:\\ completed in 1.2 s\n"));
  EXPECT_THAT(outcome.err, HasSubstr("Report written to " + path + " ("));
  std::ifstream file(path, std::ios::binary);
  const std::string html((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_THAT(html, HasSubstr("title=\"T:\\big.iso&#10;3.0 GiB\""));
  // Next to 3 GiB, the folder of 5.2 KiB is too small to draw: it joins the smaller items.
  EXPECT_THAT(html, HasSubstr("title=\"2 smaller items in T:\\&#10;5.2 KiB\""));
  std::remove(path.c_str());
}

TEST_F(CommandsTest, ScanWithAReportThatCannotBeWrittenFails) {
  host_.set_scan_script(CompletedScan());
  const std::string path = ::testing::TempDir() + "no-such-folder/report.html";
  const Outcome outcome = Run({"scan", "--report", path, "T"});
  EXPECT_EQ(outcome.status, kExitFailure);
  // The summary is still printed: the scan itself went well.
  EXPECT_THAT(outcome.out, HasSubstr("Scan of T:\\ completed"));
  EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: cannot write the report to " + path + "\n"));
}

TEST_F(CommandsTest, InterruptCancelsTheScanAndReportsThePartialResult) {
  ScanScript script;
  script.events = {StartedEvent("T:\\"), BatchEvent({FileEntry("T:\\a\\one", 1000)}, 1, 1, 1000)};
  script.wait_for_cancel = true;
  // After "cancelScan": the entries still held, then "cancelled" without totals.
  script.events_after_cancel = {BatchEvent({FileEntry("T:\\a\\two", 24), FolderEntry("T:\\a", 1024)}, 2, 1, 1024),
                                CancelledEvent()};
  host_.set_scan_script(script);
  // The stand-in for Ctrl-C: pressed once the host is in the middle of the scan, and a press
  // stays counted.
  bool pressed = false;
  const Outcome outcome = Run({"scan", "T"}, [this, &pressed] {
    pressed = pressed || host_.awaiting_cancel();
    return pressed ? 1u : 0u;
  });
  EXPECT_EQ(outcome.status, kExitInterrupted) << outcome.err;
  EXPECT_THAT(host_.calls(), Contains("com.pelmora.app/native cancelScan"));
  EXPECT_THAT(outcome.out, HasSubstr("Scan of T:\\ cancelled after "));
  EXPECT_THAT(outcome.out, HasSubstr("; partial result\n"
                                     "  Files:    2\n"
                                     "  Folders:  1\n"
                                     "  Size:     1.0 KiB (1,024 bytes)\n"
                                     "\n"
                                     "Largest folders:\n"
                                     "  1.0 KiB  T:\\a\n"
                                     "\n"
                                     "Largest files:\n"
                                     "  1000 B  T:\\a\\one\n"
                                     "    24 B  T:\\a\\two\n"));
}

TEST_F(CommandsTest, ScanOfAnUnreadableDriveFails) {
  ScanScript script;
  script.events = {StartedEvent("Q:\\"), BatchEvent({InaccessibleEntry("Q:\\")}, 0, 0, 0), CompletedEvent(0, 0, 0, 0)};
  host_.set_scan_script(script);
  const Outcome outcome = Run({"scan", "Q"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.out, IsEmpty());
  EXPECT_EQ(outcome.err, "pelmora-cli: drive Q: cannot be read (no such drive, or it is not ready)\n");
}

TEST_F(CommandsTest, ScanCancelledByTheHostItselfIsAFailure) {
  ScanScript script;
  script.events = {StartedEvent("T:\\"), CancelledEvent()};
  host_.set_scan_script(script);
  const Outcome outcome = Run({"scan", "T"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("the host cancelled the scan"));
  EXPECT_THAT(host_.calls(), Not(Contains("com.pelmora.app/native cancelScan")));
}

#ifndef _WIN32
// The Linux client sees the paths it is given; the Windows one leaves them to the host.
TEST_F(CommandsTest, APathThatDoesNotExistIsNamedWithStatusTwoAndNothingIsAsked) {
  const std::string missing = (std::filesystem::temp_directory_path() / "pelmora-cli-no-such-folder" / "x").string();
  const std::vector<std::vector<std::string>> command_lines = {
      {"search", missing, "words"}, {"largest", missing}, {"dupes", missing},
      {"reveal", missing},          {"open", missing},    {"verify", missing},
  };
  for (const std::vector<std::string>& command_line : command_lines) {
    const Outcome outcome = Run(command_line);
    EXPECT_EQ(outcome.status, kExitUsage) << command_line[0];
    EXPECT_EQ(outcome.err, "pelmora-cli: no such file or folder: " + missing + "\n") << command_line[0];
    EXPECT_THAT(outcome.out, IsEmpty()) << command_line[0];
  }
  EXPECT_EQ(host_.connections(), 0);

  // A path that is there goes to the host under its Wine name.
  const std::string present = std::filesystem::temp_directory_path().string();
  Run({"reveal", present});
  EXPECT_THAT(host_.calls(), Contains("com.pelmora.app/native openInExplorer"));
}
#endif

}  // namespace
}  // namespace pel_mora::cli
