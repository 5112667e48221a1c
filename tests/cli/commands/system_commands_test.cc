// The system commands (metrics, apps, uninstall) end to end against the fake bridge host.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/common/json.h"
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


EncodableValue Record(std::initializer_list<std::pair<const char*, EncodableValue>> fields) {
  EncodableMap map;
  for (const auto& [key, value] : fields) {
    map[EncodableValue(key)] = value;
  }
  return EncodableValue(std::move(map));
}

EncodableValue Metrics() {
  const EncodableValue adapter = Record({{"name", EncodableValue("Intel Ethernet")},
                                         {"alias", EncodableValue("eth0")},
                                         {"type", EncodableValue("Ethernet")},
                                         {"status", EncodableValue("Connected")},
                                         {"linkSpeedBps", EncodableValue(int64_t{1000000000})},
                                         {"downloadSpeedBps", EncodableValue(int64_t{2048})},
                                         {"uploadSpeedBps", EncodableValue(int64_t{512})},
                                         {"bytesReceived", EncodableValue(int64_t{1073741824})},
                                         {"bytesSent", EncodableValue(int64_t{1048576})},
                                         {"ipv4", EncodableValue("10.0.0.2")},
                                         {"mac", EncodableValue("00:1A:2B:3C:4D:5E")}});
  return Record({
      {"cpu", Record({{"usagePercent", EncodableValue(50.0)},
                      {"brandName", EncodableValue("Test CPU 3000")},
                      {"logicalCores", EncodableValue(int32_t{8})},
                      {"processCount", EncodableValue(int32_t{1234})},
                      {"threadCount", EncodableValue(int32_t{5678})},
                      {"uptimeSeconds", EncodableValue(int64_t{7380})}})},
      {"memory", Record({{"totalPhysicalBytes", EncodableValue(int64_t{17179869184})},
                         {"usedPhysicalBytes", EncodableValue(int64_t{4294967296})},
                         {"freePhysicalBytes", EncodableValue(int64_t{12884901888})},
                         {"usagePercent", EncodableValue(25.0)},
                         {"totalPageFileBytes", EncodableValue(int64_t{2147483648})},
                         {"usedPageFileBytes", EncodableValue(int64_t{1073741824})},
                         {"freePageFileBytes", EncodableValue(int64_t{1073741824})}})},
      {"battery", Record({{"hasBattery", EncodableValue(true)},
                          {"isCharging", EncodableValue(false)},
                          {"batteryPercent", EncodableValue(int32_t{20})},
                          {"powerSource", EncodableValue("Battery Power")},
                          {"batteryStatus", EncodableValue("Low Battery")},
                          {"batteryLifeRemainingSec", EncodableValue(int64_t{3900})},
                          {"isBatterySaver", EncodableValue(true)}})},
      {"network", Record({{"adapters", EncodableValue(EncodableList{adapter})},
                          {"downloadSpeedBps", EncodableValue(int64_t{2048})},
                          {"uploadSpeedBps", EncodableValue(int64_t{512})},
                          {"totalBytesReceived", EncodableValue(int64_t{1073741824})},
                          {"totalBytesSent", EncodableValue(int64_t{1048576})}})},
      {"os", Record({{"osName", EncodableValue("Windows 10 Pro")},
                     {"osVersion", EncodableValue("22H2")},
                     {"buildNumber", EncodableValue("19045")},
                     {"computerName", EncodableValue("TESTBOX")},
                     {"userName", EncodableValue("tester")},
                     {"architecture", EncodableValue("x64 (64-bit)")}})},
      {"timestamp", EncodableValue(int64_t{1700000000000})},
  });
}

EncodableValue App(const char* name, const char* version, const char* publisher, const char* command,
                   int64_t size) {
  return Record({{"displayName", EncodableValue(name)},
                 {"displayVersion", EncodableValue(version)},
                 {"publisher", EncodableValue(publisher)},
                 {"installLocation", EncodableValue("")},
                 {"uninstallString", EncodableValue(command)},
                 {"installDate", EncodableValue("")},
                 {"displayIcon", EncodableValue("")},
                 {"estimatedSizeBytes", EncodableValue(size)}});
}

class SystemCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.set_method_reply("getSystemMetrics", [](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = Metrics();
      return reply;
    });
    host_.set_method_reply("getInstalledApps", [](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(EncodableList{
          App("zebra Notes", "1.0", "Zoo Soft", "\"C:\\Zebra\\uninst.exe\"", 2097152),
          App("Alpha Editor", "2.5.1", "Alpha Ltd", "MsiExec.exe /X{ALPHA}", 0),
          App("beta Viewer", "3.0", "Beta Inc", "\"C:\\Program Files\\Beta\\un install.exe\" /S", 1048576),
          // One application registered in both views of the registry.
          App("Gamma Tool", "1.1", "Gamma", "C:\\Gamma\\uninst.exe", 1024),
          App("Gamma Tool", "1.1", "Gamma", "C:\\Gamma\\uninst.exe", 1024),
          App("Delta Player", "4", "Delta", "C:\\Delta\\uninst.exe", 0),
          App("Delta Player Plugin", "4", "Delta", "C:\\Delta\\plugin-uninst.exe", 0),
          App("Epsilon", "1", "E", "C:\\E\\one.exe", 0),
          App("Epsilon Extra", "1", "E", "C:\\E\\extra.exe", 0),
          App("Epsilon Tools", "1", "E", "C:\\E\\tools.exe", 0),
      });
      return reply;
    });
    host_.set_method_reply("launchUninstaller", [this](const EncodableValue&) {
      ScriptedReply reply;
      reply.value = EncodableValue(launch_answer_.load());
      return reply;
    });
  }

  Outcome Run(std::vector<std::string> arguments, const std::string& input = "", bool terminal = false,
              std::function<unsigned()> interrupt_count = nullptr) {
    out_.str("");
    // The output stream is the fixture's, so a test can watch frames while --watch runs.
    return RunClientAgainst(host_, std::move(arguments),
                            Console{.typed = input, .in_is_terminal = terminal,
                                    .interrupt_count = std::move(interrupt_count), .out = &out_});
  }

  // The client's output so far; the client polls interrupt_count on the thread that writes it.
  std::ostringstream out_;

  std::vector<std::string> Calls(const std::string& method) const {
    std::vector<std::string> matching;
    for (const std::string& call : host_.calls()) {
      if (call.find(method) != std::string::npos) {
        matching.push_back(call);
      }
    }
    return matching;
  }

  std::atomic<bool> launch_answer_{true};
  FakeBridgeHost host_;
};

TEST_F(SystemCommandsTest, MetricsShowsEverySectionAsAPanel) {
  const Outcome outcome = Run({"metrics"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Processor   Test CPU 3000, 8 logical cores\n"
            "  load      [##########..........]  50.0 %\n"
            "  tasks     1,234 processes, 5,678 threads, up 2 h 03 min\n"
            "Memory      [#####...............]  25.0 %  4.0 GiB of 16.0 GiB used, 12.0 GiB free\n"
            "Page file   [##########..........]  50.0 %  1.0 GiB of 2.0 GiB used\n"
            "Battery     20 %, Low Battery, Battery Power, 1 h 05 min left, battery saver on\n"
            "Network     down 2.0 KiB/s, up 512 B/s (received 1.0 GiB, sent 1.0 MiB)\n"
            "  eth0 (Ethernet, Intel Ethernet): Connected, 1 Gbit/s, 10.0.0.2, 00:1A:2B:3C:4D:5E\n"
            "    down 2.0 KiB/s, up 512 B/s (received 1.0 GiB, sent 1.0 MiB)\n"
            "System      Windows 10 Pro 22H2 (build 19045), x64 (64-bit)\n"
            "  computer  TESTBOX, user tester\n");
}

TEST_F(SystemCommandsTest, MetricsOfADesktopAndOfAReplyMissingFields) {
  host_.set_method_reply("getSystemMetrics", [](const EncodableValue&) {
    ScriptedReply reply;
    reply.value = Record({{"battery", Record({{"hasBattery", EncodableValue(false)},
                                              {"batteryStatus", EncodableValue("No Battery (Desktop PC)")},
                                              {"powerSource", EncodableValue("AC Power (Mains)")}})},
                          {"cpu", EncodableValue("not a map")}});
    return reply;
  });
  const Outcome outcome = Run({"metrics"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("Battery     No Battery (Desktop PC), AC Power (Mains)\n"));
  EXPECT_THAT(outcome.out, HasSubstr("  load      [....................]   0.0 %\n"));
}

TEST_F(SystemCommandsTest, MetricsJsonAndErrors) {
  Outcome outcome = Run({"metrics", "--json"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  // JSON cannot tell int32 from int64, so the text is compared.
  EXPECT_EQ(outcome.out, FormatJson(Metrics(), JsonLayout::kIndented) + "\n");

  host_.set_method_reply("getSystemMetrics", [](const EncodableValue&) {
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::kError;
    reply.error_code = "METRICS_ERROR";
    reply.error_message = "Failed to retrieve system metrics.";
    return reply;
  });
  outcome = Run({"metrics"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("Failed to retrieve system metrics."));

  outcome = Run({"metrics", "extra"});
  EXPECT_EQ(outcome.status, kExitUsage);
  outcome = Run({"metrics", "--yes"});
  EXPECT_EQ(outcome.status, kExitUsage) << "--yes is not an option of metrics";
}

TEST_F(SystemCommandsTest, MetricsWatchRedrawsUntilInterrupted) {
  // The person presses Ctrl-C once the third frame is on the screen.
  const auto frames_shown = [this] {
    const std::string shown = out_.str();
    size_t frames = 0;
    for (size_t at = shown.find("\x1b[H\x1b[2J"); at != std::string::npos; at = shown.find("\x1b[H\x1b[2J", at + 1)) {
      ++frames;
    }
    return frames;
  };
  const Outcome outcome =
      Run({"metrics", "--watch"}, "", false, [&frames_shown] { return frames_shown() >= 3 ? 1u : 0u; });
  EXPECT_EQ(outcome.status, kExitInterrupted);
  EXPECT_EQ(Calls("getSystemMetrics").size(), 3u);
  // Each frame starts by clearing the screen and holds a whole panel.
  size_t frames = 0;
  for (size_t at = outcome.out.find("\x1b[H\x1b[2J"); at != std::string::npos;
       at = outcome.out.find("\x1b[H\x1b[2J", at + 1)) {
    ++frames;
    EXPECT_EQ(outcome.out.compare(at + 7, 9, "Processor"), 0);
  }
  EXPECT_EQ(frames, 3u);
}

TEST_F(SystemCommandsTest, AppsSortedByNameWithVersionPublisherAndSize) {
  const Outcome outcome = Run({"apps", "ta"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  // "ta" is in the names "beta Viewer" and "Delta Player (Plugin)", and in the publisher "Delta".
  EXPECT_EQ(outcome.out,
            "Name                 Version  Publisher        Size\n"
            "beta Viewer          3.0      Beta Inc      1.0 MiB\n"
            "Delta Player         4        Delta               -\n"
            "Delta Player Plugin  4        Delta               -\n"
            "3 applications, 1.0 MiB as estimated by their installers\n");

  const Outcome all = Run({"apps"});
  ASSERT_EQ(all.status, kExitSuccess) << all.err;
  std::vector<std::string> first_words;
  std::istringstream lines(all.out);
  std::string line;
  while (std::getline(lines, line)) {
    first_words.push_back(line.substr(0, line.find(' ')));
  }
  EXPECT_EQ(first_words, (std::vector<std::string>{"Name", "Alpha", "beta", "Delta", "Delta", "Epsilon", "Epsilon",
                                                   "Epsilon", "Gamma", "Gamma", "zebra", "10"}));
}

TEST_F(SystemCommandsTest, AppsJsonKeepsTheRecordsOfTheFilteredApplications) {
  const Outcome outcome = Run({"apps", "ZEBRA", "--json"});
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out,
            FormatJson(EncodableValue(EncodableList{
                           App("zebra Notes", "1.0", "Zoo Soft", "\"C:\\Zebra\\uninst.exe\"", 2097152)}),
                       JsonLayout::kIndented) +
                "\n");
}

TEST_F(SystemCommandsTest, UninstallShowsTheCommandAndStartsItWhenConfirmed) {
  const Outcome outcome = Run({"uninstall", "beta"}, "y\n", true);
  ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("beta Viewer 3.0 (Beta Inc)\n"
                                     "  uninstall command: \"C:\\Program Files\\Beta\\un install.exe\" /S\n"));
  EXPECT_THAT(outcome.err, HasSubstr("Start the uninstaller of beta Viewer? [y/N]"));
  EXPECT_EQ(host_.last_arguments("launchUninstaller"),
            EncodableValue(EncodableMap{{EncodableValue("command"),
                                         EncodableValue("\"C:\\Program Files\\Beta\\un install.exe\" /S")}}));
}

TEST_F(SystemCommandsTest, UninstallPicksOneEntryOrRefuses) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* launched_command;  // null: nothing may be launched
    const char* message;
  };
  const std::vector<Case> cases = {
      // An exact name wins over the longer names containing it.
      {{"uninstall", "delta player", "--yes"}, kExitSuccess, "C:\\Delta\\uninst.exe", ""},
      // The same application in both registry views is one application.
      {{"uninstall", "Gamma", "--yes"}, kExitSuccess, "C:\\Gamma\\uninst.exe", ""},
      {{"uninstall", "Epsilon ", "--yes"}, kExitUsage, nullptr, "names 2 applications"},
      {{"uninstall", "ep", "--yes"}, kExitUsage, nullptr, "names 3 applications"},
      {{"uninstall", "Omega", "--yes"}, kExitFailure, nullptr, "no installed application is called \"Omega\""},
      {{"uninstall"}, kExitUsage, nullptr, "usage: pelmora-cli uninstall NAME"},
      {{"uninstall", ""}, kExitUsage, nullptr, "NAME may not be empty"},
  };
  for (const Case& test : cases) {
    const size_t launches_before = Calls("launchUninstaller").size();
    const Outcome outcome = Run(test.arguments);
    const std::string label = test.arguments.size() > 1 ? test.arguments[1] : "(no name)";
    EXPECT_EQ(outcome.status, test.status) << label << ": " << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr(test.message)) << label;
    if (test.launched_command != nullptr) {
      EXPECT_EQ(host_.last_arguments("launchUninstaller"),
                EncodableValue(EncodableMap{{EncodableValue("command"), EncodableValue(test.launched_command)}}))
          << label;
    } else {
      EXPECT_EQ(Calls("launchUninstaller").size(), launches_before) << label;
    }
  }
}

TEST_F(SystemCommandsTest, UninstallDeclinedOrUnansweredStartsNothing) {
  Outcome outcome = Run({"uninstall", "Alpha Editor"}, "n\n", true);
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.out, HasSubstr("Nothing was started."));
  // Nobody at a terminal and no --yes: refused before anything starts.
  outcome = Run({"uninstall", "Alpha Editor"}, "y\n", false);
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("--yes"));
  EXPECT_THAT(Calls("launchUninstaller"), IsEmpty());
}

TEST_F(SystemCommandsTest, UninstallerThatCannotStartIsAFailure) {
  launch_answer_ = false;
  const Outcome outcome = Run({"uninstall", "Alpha Editor", "--yes"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_THAT(outcome.err, HasSubstr("the uninstaller of Alpha Editor could not be started"));
  EXPECT_THAT(outcome.out, Not(HasSubstr("was started")));
}

}  // namespace
}  // namespace pel_mora::cli
