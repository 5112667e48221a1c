// The browser's recycle and show keys on a saved scan: the host they start on demand (through a
// platform whose "host" is the fake bridge host), what they check before starting it, and how
// the host's answers reach the screen.

#include "cli/browser/browser_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "cli/commands/command_support.h"
#include "cli/connection/host_session.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::BatchEvent;
using testing::CompletedEvent;
using testing::FakeBridgeHost;
using testing::FileEntry;
using testing::ScriptedReply;
using testing::StartedEvent;

// The fake bridge host in the place of a started host: it "exits" as soon as it is asked to.
class FakeHostProcess : public HostProcess {
 public:
  // `exited` tells whether the "process" has ended.
  FakeHostProcess(const FakeBridgeHost& host, std::function<bool()> exited)
      : port_(host.port()), secret_(host.secret()), exited_(std::move(exited)) {}
  uint16_t port() const override { return port_; }
  const embedding::InterfaceSecret& interface_secret() const override { return secret_; }
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) override {
    const auto give_up = std::chrono::steady_clock::now() + timeout;
    while (!exited_() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exited_() ? std::optional<int>(0) : std::nullopt;
  }
  std::vector<std::string> RecentOutput() const override { return {"the fake host's last line"}; }

 private:
  uint16_t port_;
  embedding::InterfaceSecret secret_;
  std::function<bool()> exited_;
};

enum class StartBehaviour { kStart, kFail, kWaitForInterrupt, kCrashLater };

class FakePlatform : public HostPlatform {
 public:
  explicit FakePlatform(const FakeBridgeHost& host) : host_(host) {}

  std::unique_ptr<HostProcess> StartHost(const HostLaunchOptions& options, std::ostream&,
                                         const InterruptCheck& interrupted) override {
    launches.push_back(options);
    if (start == StartBehaviour::kFail) {
      throw PlatformError("the host did not start: it exited with code 1", {"wine: something went wrong"});
    }
    if (start == StartBehaviour::kCrashLater) {
      // A host that goes away without being asked has ended by the time anyone waits for it.
      return std::make_unique<FakeHostProcess>(host_, [] { return true; });
    }
    if (start == StartBehaviour::kWaitForInterrupt) {
      while (!interrupted()) {
      }
      throw InterruptedError();
    }
    const FakeBridgeHost& host = host_;
    return std::make_unique<FakeHostProcess>(host, [&host] { return host.close_requested(); });
  }
  DriveLetterStatus CheckDriveLetter(char letter) override {
    return folders.count(letter) != 0 ? DriveLetterStatus::kKnown : DriveLetterStatus::kUnknown;
  }
  std::optional<std::string> MapDriveLetter(char, const std::string&, std::ostream&) override { return std::nullopt; }
  std::optional<std::string> DriveLetterFolder(char letter) override {
    const auto found = folders.find(letter);
    return found != folders.end() ? std::optional<std::string>(found->second) : std::nullopt;
  }
  std::vector<std::pair<char, std::string>> DriveLetterMappings() override {
    return std::vector<std::pair<char, std::string>>(folders.begin(), folders.end());
  }
  std::optional<DriveLetterMapping> MapFreeDriveLetter(const std::string& folder, std::ostream&) override {
    folders['F'] = folder;
    return DriveLetterMapping{'F', folder};
  }
  void RemoveDriveLetterMapping(DriveLetterMapping mapping) noexcept override {
    removed.push_back(mapping.letter);
    folders.erase(mapping.letter);
  }
  std::string SettingsLocation() const override { return "/fake/prefix"; }
  bool ShowsWindows(DisplayMode display) const override { return display == DisplayMode::kRealDisplay; }

  std::map<char, std::string> folders;
  StartBehaviour start = StartBehaviour::kStart;
  std::vector<HostLaunchOptions> launches;
  std::vector<char> removed;

 private:
  const FakeBridgeHost& host_;
};

class BrowserHostTest : public ::testing::Test {
 protected:
  BrowserHostTest() {
    folder_ = fs::temp_directory_path() / ("pelmora-browser-host-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    std::ofstream(folder_ / "here.txt") << "still here";
    fs::create_directories(folder_ / "became");
    platform_.folders['T'] = folder_.string();
    tree_.Add(StartedEvent("T:\\"));
    tree_.Add(BatchEvent({FileEntry("T:\\here.txt", 10), FileEntry("T:\\gone.txt", 2048)}, 2, 0, 2058));
    tree_.Add(CompletedEvent(2, 0, 2058, 1));
    host_.set_method_reply("recyclePaths", [](const EncodableValue&) {
      return ScriptedReply::Success(EncodableValue(EncodableMap{{EncodableValue("successCount"), EncodableValue(1)},
                                                                {EncodableValue("failedCount"), EncodableValue(0)},
                                                                {EncodableValue("freedBytes"), EncodableValue(10)}}));
    });
    environment_.err = &err_;
    environment_.platform = &platform_;
    environment_.interrupt_count = [this] { return interrupts_; };
    // A running host (--port) is the fake too, and this is its secret.
    const embedding::InterfaceSecret secret = host_.secret();
    environment_.session.running_host_secret = [secret](uint16_t) { return secret; };
  }

  ~BrowserHostTest() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }

  std::string StatusLine() const {
    const std::vector<ScreenLine> lines = view_.Render(100, 24);
    return lines[lines.size() - 2].text.substr(1, lines[lines.size() - 2].text.find_last_not_of(' '));
  }

  // Pumps until the host's answers reach the view.
  void AwaitAnswers(BrowserHost& host) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!host.TakeAnswers(view_) && std::chrono::steady_clock::now() < give_up) {
      host.Pump(std::chrono::milliseconds(20), view_);
    }
  }

  fs::path folder_;
  FakeBridgeHost host_;
  FakePlatform platform_{host_};
  ScanTree tree_;
  BrowserView view_{tree_, ScanOrigin::kSaved};
  CliOptions options_;
  std::ostringstream err_;
  unsigned interrupts_ = 0;
  CliEnvironment environment_;
};

TEST_F(BrowserHostTest, TheFirstRequestStartsTheHostTheNextReuseItAndFinishClosesIt) {
  options_.host_path = "/opt/pelmora/pelmora.exe";
  options_.display = DisplayMode::kRealDisplay;
  BrowserHost host('T', std::nullopt, options_, environment_);
  EXPECT_FALSE(host.has_session());
  int polls = 0;
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [&polls] { return ++polls, false; });
  ASSERT_TRUE(host.has_session()) << StatusLine();
  // The screen was drawn with the starting line before the start could hold it still.
  EXPECT_GE(polls, 1);
  ASSERT_EQ(platform_.launches.size(), 1u);
  EXPECT_EQ(platform_.launches[0].host_path, "/opt/pelmora/pelmora.exe");
  EXPECT_EQ(platform_.launches[0].display, DisplayMode::kRealDisplay);
  EXPECT_EQ(StatusLine(), "Recycling T:\\here.txt ...");
  AwaitAnswers(host);
  EXPECT_EQ(StatusLine(), "Recycled T:\\here.txt (10 B when saved).");
  EXPECT_EQ(tree_.Find("T:\\here.txt"), nullptr);
  EXPECT_EQ(tree_.totals().bytes, 2048u);

  host.Carry({BrowserRequest::Kind::kReveal, "T:\\"}, view_, nullptr);
  EXPECT_EQ(StatusLine(), "Asked Explorer to show T:\\");
  AwaitAnswers(host);
  EXPECT_EQ(platform_.launches.size(), 1u);
  EXPECT_EQ(host_.connections(), 1);
  const std::optional<EncodableValue> recycled = host_.last_arguments("recyclePaths");
  ASSERT_TRUE(recycled.has_value());
  EXPECT_EQ(*recycled, EncodableValue(EncodableMap{
                           {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue("T:\\here.txt")})}}));

  EXPECT_FALSE(host_.close_requested());
  host.Finish();
  EXPECT_TRUE(host_.close_requested());
  EXPECT_FALSE(host.has_session());
  EXPECT_THAT(err_.str(), IsEmpty());
}

// A saved scan names its items by a letter that may show another folder by now (a letter lent
// to the scan's command is gone after it): the folder saved with the scan decides, never the
// letter.
TEST_F(BrowserHostTest, ASavedScanIsReachedThroughTheFolderItWasOfNotItsLetter) {
  // T: shows another folder now; the scanned one is reached through a letter lent to it.
  const fs::path other = folder_ / "became";
  platform_.folders['T'] = other.string();
  {
    BrowserHost host('T', folder_.string(), options_, environment_);
    host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, nullptr);
    ASSERT_TRUE(host.has_session()) << StatusLine();
    AwaitAnswers(host);
    EXPECT_EQ(StatusLine(), "Recycled T:\\here.txt (10 B when saved).");
    EXPECT_EQ(host_.last_arguments("recyclePaths"),
              EncodableValue(EncodableMap{
                  {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue("F:\\here.txt")})}}));
    EXPECT_THAT(platform_.removed, IsEmpty());
    host.Finish();
    // The lent letter goes after the host that used it.
    EXPECT_TRUE(host_.close_requested());
  }
  EXPECT_THAT(platform_.removed, ElementsAre('F'));
  EXPECT_EQ(platform_.folders['T'], other.string());

  // A letter that still shows the folder (through a link to it) is used as it is.
  fs::create_directory_symlink(folder_, folder_.string() + "-link");
  platform_.folders['T'] = folder_.string() + "-link";
  {
    BrowserHost host('T', folder_.string(), options_, environment_);
    host.Carry({BrowserRequest::Kind::kRecycle, "T:\\gone.txt"}, view_, nullptr);
    EXPECT_EQ(StatusLine(), "Not recycled: T:\\gone.txt is gone (no such file or folder now).");
    host.Finish();
  }
  fs::remove(folder_.string() + "-link");
  EXPECT_THAT(platform_.removed, ElementsAre('F'));

  // The scanned folder swapped for a link to another folder holding a file of the same name:
  // that file was never listed, so nothing is asked, and the canary stays.
  const fs::path scanned = folder_ / "scanned";
  const fs::path canaries = folder_ / "canaries";
  fs::create_directories(scanned);
  fs::create_directories(canaries);
  std::ofstream(canaries / "here.txt") << "canary";
  fs::rename(scanned, folder_ / "scanned-moved");
  fs::create_directory_symlink(canaries, scanned);
  platform_.folders['T'] = scanned.string();
  {
    BrowserHost host('T', scanned.string(), options_, environment_);
    host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, nullptr);
    // The line is cut at the screen's width.
    EXPECT_EQ(StatusLine(), ("The folder this scan was of, " + scanned.string() + ", leads to " + canaries.string() +
                             " now.").substr(0, StatusLine().size()));
    EXPECT_THAT(StatusLine(), ::testing::StartsWith("The folder this scan was of, " + scanned.string() + ", leads to"));
    EXPECT_FALSE(host.has_session());
  }
  EXPECT_TRUE(fs::exists(canaries / "here.txt"));
  EXPECT_EQ(platform_.launches.size(), 1u);

  // The scanned folder itself is gone: nothing to act on, and nothing started.
  BrowserHost host('T', (folder_ / "removed").string(), options_, environment_);
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, nullptr);
  EXPECT_EQ(StatusLine(), "The folder this scan was of, " + (folder_ / "removed").string() + ", is gone.");
  EXPECT_FALSE(host.has_session());
  EXPECT_EQ(platform_.launches.size(), 1u);
}

// The attack on a browse: the letter it acts through is made to show another folder (another
// client's map) that holds a file of the same name as a listed one. Whichever way the browser
// found the letter, nothing is asked through it any more, and the other folder's file stays.
TEST_F(BrowserHostTest, NothingIsAskedThroughALetterThatShowsAnotherFolderNow) {
  const fs::path canaries = folder_ / "canaries";
  fs::create_directories(canaries);
  std::ofstream(canaries / "here.txt") << "canary";
  options_.display = DisplayMode::kRealDisplay;
  CliOptions session_options;
  session_options.port = host_.port();
  // The live browse's session, last: the fake host serves one connection at a time.
  std::optional<HostSession> live_session;
  struct Case {
    const char* name;
    std::function<std::unique_ptr<BrowserHost>()> open;
  };
  const Case cases[] = {
      {"a saved scan with its folder",
       [&] { return std::make_unique<BrowserHost>('T', folder_.string(), options_, environment_); }},
      {"a saved scan without its folder",
       [&] { return std::make_unique<BrowserHost>('T', std::nullopt, options_, environment_); }},
      {"a live browse, with the letter its command resolved",
       [&] {
         live_session.emplace(session_options, nullptr, environment_.session, [] { return false; }, err_);
         return std::make_unique<BrowserHost>(
             *live_session, 'T', std::make_shared<DriveLetterLoan>(DriveLetterLoan::ForLetter(platform_, 'T')),
             options_, environment_);
       }},
  };
  for (const Case& test_case : cases) {
    platform_.folders['T'] = folder_.string();
    const std::unique_ptr<BrowserHost> host = test_case.open();
    // The first key finds the letter as it is: it shows the scanned folder.
    host->Carry({BrowserRequest::Kind::kRecycle, "T:\\gone.txt"}, view_, [] { return false; });
    EXPECT_EQ(StatusLine(), "Not recycled: T:\\gone.txt is gone (no such file or folder now).") << test_case.name;

    platform_.folders['T'] = canaries.string();
    host->Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [] { return false; });
    EXPECT_THAT(StatusLine(), ::testing::StartsWith("Not recycled: drive T: no longer shows " + folder_.string()))
        << test_case.name;
    host->Carry({BrowserRequest::Kind::kReveal, "T:\\here.txt"}, view_, [] { return false; });
    EXPECT_THAT(StatusLine(), ::testing::StartsWith("Not shown: drive T: no longer shows " + folder_.string()))
        << test_case.name;
    host->Finish();
  }
  EXPECT_THAT(host_.calls(), IsEmpty());
  EXPECT_TRUE(fs::exists(canaries / "here.txt"));
  EXPECT_NE(tree_.Find("T:\\here.txt"), nullptr);
}

// What the client can see itself is said without a host, and nothing is started for it.
TEST_F(BrowserHostTest, AnUnmappedLetterAGonePathAndNoDisplayStartNothing) {
  struct Case {
    char letter;
    BrowserRequest request;
    DisplayMode display;
    const char* status;
  };
  const Case cases[] = {
      {'Q', {BrowserRequest::Kind::kRecycle, "Q:\\here.txt"}, DisplayMode::kRealDisplay,
       "Drive Q: is not mapped here; give it a folder with: pelmora-cli map Q FOLDER"},
      {'Q', {BrowserRequest::Kind::kReveal, "Q:\\here.txt"}, DisplayMode::kRealDisplay,
       "Drive Q: is not mapped here; give it a folder with: pelmora-cli map Q FOLDER"},
      {'T', {BrowserRequest::Kind::kRecycle, "T:\\gone.txt"}, DisplayMode::kNullDriver,
       "Not recycled: T:\\gone.txt is gone (no such file or folder now)."},
      {'T', {BrowserRequest::Kind::kReveal, "T:\\gone.txt"}, DisplayMode::kRealDisplay,
       "Not shown: T:\\gone.txt is gone (no such file or folder now)."},
      {'T', {BrowserRequest::Kind::kReveal, "T:\\here.txt"}, DisplayMode::kNullDriver,
       "Showing an item opens a window: run browse with --display"},
      // The person confirmed a file; a folder has its name now.
      {'T', {BrowserRequest::Kind::kRecycle, "T:\\Became", false}, DisplayMode::kNullDriver,
       "Not recycled: T:\\Became is now a folder, where a file was listed."},
      {'T', {BrowserRequest::Kind::kRecycle, "T:\\HERE.TXT", true}, DisplayMode::kNullDriver,
       "Not recycled: T:\\HERE.TXT is now a file, where a folder was listed."},
  };
  for (const Case& test_case : cases) {
    options_.display = test_case.display;
    BrowserHost host(test_case.letter, std::nullopt, options_, environment_);
    host.Carry(test_case.request, view_, [] { return false; });
    EXPECT_EQ(StatusLine(), test_case.status);
    EXPECT_FALSE(host.has_session());
    host.Finish();
  }
  EXPECT_THAT(platform_.launches, IsEmpty());
  EXPECT_EQ(host_.connections(), 0);
  // A path gone since the scan keeps its place and the totals: nothing left through this key.
  EXPECT_NE(tree_.Find("T:\\gone.txt"), nullptr);
  EXPECT_EQ(tree_.totals().bytes, 2058u);
}

TEST_F(BrowserHostTest, AStartGivenUpOrFailedLeavesNoHostAndTheNextRequestTriesAgain) {
  BrowserHost host('T', std::nullopt, options_, environment_);
  // q or Ctrl-C while the host starts: the wait ends, the browser goes on without a host.
  platform_.start = StartBehaviour::kWaitForInterrupt;
  int polls = 0;
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [&polls] { return ++polls > 3; });
  EXPECT_FALSE(host.has_session());
  EXPECT_EQ(StatusLine(), "The host was not started.");
  EXPECT_NE(tree_.Find("T:\\here.txt"), nullptr);

  platform_.start = StartBehaviour::kFail;
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [] { return false; });
  EXPECT_FALSE(host.has_session());
  EXPECT_EQ(StatusLine(), "The host did not start: it exited with code 1");

  platform_.start = StartBehaviour::kStart;
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [] { return false; });
  ASSERT_TRUE(host.has_session());
  AwaitAnswers(host);
  EXPECT_EQ(tree_.Find("T:\\here.txt"), nullptr);
  EXPECT_EQ(platform_.launches.size(), 3u);
  // Why the start failed is written once the terminal is given back, not over the screen.
  EXPECT_THAT(err_.str(), IsEmpty());
  host.Finish();
  EXPECT_EQ(err_.str(),
            "pelmora-cli: the host did not start: it exited with code 1\n"
            "The host's last lines:\n"
            "  wine: something went wrong\n");
}

// A started host that goes away while a recycle waits: the recycle fails and says so, nothing
// leaves the totals, the browser goes on without a host and says why once it has quit.
TEST_F(BrowserHostTest, AHostThatStopsAnsweringIsLetGoAndItsPendingRecycleFails) {
  auto crashing = std::make_unique<FakeBridgeHost>();
  crashing->set_method_reply("recyclePaths", [](const EncodableValue&) {
    ScriptedReply never = ScriptedReply::Success(EncodableValue());
    never.held_until_method = "a method nobody calls";
    return never;
  });
  FakePlatform platform(*crashing);
  platform.folders['T'] = folder_.string();
  platform.start = StartBehaviour::kCrashLater;
  environment_.platform = &platform;
  BrowserHost host('T', std::nullopt, options_, environment_);
  host.Carry({BrowserRequest::Kind::kRecycle, "T:\\here.txt"}, view_, [] { return false; });
  ASSERT_TRUE(host.has_session()) << StatusLine();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (crashing->calls().empty() && std::chrono::steady_clock::now() < give_up) {
    host.Pump(std::chrono::milliseconds(20), view_);
  }
  crashing.reset();
  while (host.has_session() && std::chrono::steady_clock::now() < give_up) {
    host.Pump(std::chrono::milliseconds(20), view_);
  }
  EXPECT_FALSE(host.has_session());
  EXPECT_EQ(StatusLine(), "Recycling T:\\here.txt failed: the host stopped answering");
  EXPECT_NE(tree_.Find("T:\\here.txt"), nullptr);
  host.Finish();
  EXPECT_THAT(err_.str(), HasSubstr("pelmora-cli: the host stopped answering: "));
  EXPECT_THAT(err_.str(), HasSubstr("The host's last lines:\n  the fake host's last line\n"));
}

// A running host (--port) decides about letters and paths itself, is asked at once and stays
// running afterwards.
TEST_F(BrowserHostTest, ARunningHostIsAskedWithoutLocalChecksAndLeftRunning) {
  options_.port = host_.port();
  host_.set_method_reply("recyclePaths", [](const EncodableValue&) {
    return ScriptedReply::Success(EncodableValue(EncodableMap{{EncodableValue("successCount"), EncodableValue(0)},
                                                              {EncodableValue("failedCount"), EncodableValue(1)}}));
  });
  BrowserHost host('Q', std::nullopt, options_, environment_);
  host.Carry({BrowserRequest::Kind::kRecycle, "Q:\\gone.txt"}, view_, [] { return false; });
  ASSERT_TRUE(host.has_session()) << StatusLine();
  AwaitAnswers(host);
  EXPECT_THAT(StatusLine(), HasSubstr("Not recycled: the host refused Q:\\gone.txt"));
  EXPECT_THAT(platform_.launches, IsEmpty());
  host.Finish();
  EXPECT_FALSE(host_.close_requested());
  EXPECT_THAT(host_.calls(), ElementsAre("com.pelmora.app/native recyclePaths"));
}

}  // namespace
}  // namespace pel_mora::cli
