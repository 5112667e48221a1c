// Who gets into a real host's interface bridge. The host is the Windows tree's pelmora.exe, started
// under Wine the way the client starts it (a fresh secret in its environment), in the client's
// test Wine settings. Any local account can reach its loopback port, so every stranger's attempt
// (no secret, a wrong one, a method call or a close request before it, silence) is made from this
// user and from another one (uid 65534, through setpriv); none may get a hello or run a method,
// and the holder of the secret gets in after them all. The secret is on no command line of any
// process and in nothing the host writes; a host started without one makes its own and publishes
// it in a file only its user can read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel/encodable_value.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/child_process_posix.h"
#include "cli/connection/host_platform.h"
#include "cli/connection/socket.h"
#include "cli/connection/wine_platform.h"
#include "embedding/interface_secret.h"

extern char** environ;

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kHostPath[] = PELMORA_HOST_PATH;
constexpr char kWineRoot[] = PELMORA_CLI_WINE_ROOT;
constexpr char kClientPath[] = PELMORA_CLI_PATH;
constexpr char kProbePath[] = PELMORA_BRIDGE_PROBE_PATH;
// Bounds on waiting for a broken host, never expectations.
constexpr auto kReplyTimeout = std::chrono::seconds(60);
constexpr auto kPumpSlice = std::chrono::milliseconds(100);

constexpr char kRefusalLine[] = "Interface bridge: closing the connection";

std::string ReadFile(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

struct ProgramOutcome {
  int status = -1;  // the exit code, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs a program to its end with the test's environment plus `extra` ("NAME=value") and its
// output in files of `folder`.
ProgramOutcome RunProgram(std::vector<std::string> arguments, const fs::path& folder,
                          const std::vector<std::string>& extra = {}) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  const fs::path out = folder / "program.out";
  const fs::path err = folder / "program.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::vector<char*> argv = Pointers(arguments);
  const std::vector<char*> envp = Pointers(environment);
  pid_t pid = -1;
  const int result = posix_spawnp(&pid, arguments.front().c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ProgramOutcome outcome;
  if (result != 0) {
    outcome.err = "cannot start " + arguments.front() + ": " + std::strerror(result);
    return outcome;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFile(out);
  outcome.err = ReadFile(err);
  return outcome;
}

// The accounts a stranger's attempts are made from.
enum class Account { kThisUser, kAnotherUser };

std::vector<std::string> AsAccount(Account account, std::vector<std::string> command) {
  if (account == Account::kAnotherUser) {
    command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  return command;
}

const char* Name(Account account) {
  return account == Account::kThisUser ? "this user" : "another user (uid 65534)";
}

// Why this machine cannot run a program as another user; empty when it can.
std::string WhyNoOtherUser(const fs::path& folder) {
  if (::geteuid() != 0) {
    return "switching to uid 65534 needs root (setpriv --reuid), and this test runs as uid " +
           std::to_string(::geteuid());
  }
  const ProgramOutcome tried = RunProgram(AsAccount(Account::kAnotherUser, {kProbePath}), folder);
  // The probe without arguments prints its usage and exits with 2: it ran as that user.
  if (tried.status != 2) {
    return "setpriv could not run the probe as uid 65534 (status " + std::to_string(tried.status) + "): " + tried.err;
  }
  return {};
}

// The last line of `lines` holding `text`, or empty.
std::string LastLineWith(const std::vector<std::string>& lines, const std::string& text) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->find(text) != std::string::npos) {
      return *line;
    }
  }
  return {};
}

Reply WaitForReply(BridgeClient& client, uint32_t id) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  for (;;) {
    if (std::optional<Reply> reply = client.TakeReply(id)) {
      return std::move(*reply);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("no response to message " + std::to_string(id));
    }
    client.Pump(kPumpSlice);
  }
}

// An interface connection with `secret` whose hello has arrived; null, after a test failure, when
// the host closes it or sends nothing.
std::unique_ptr<BridgeClient> ConnectWith(uint16_t port, const embedding::InterfaceSecret& secret) {
  auto client = std::make_unique<BridgeClient>(ConnectToLocalPort(port), secret);
  try {
    if (client->WaitForHello(kReplyTimeout)) {
      return client;
    }
    ADD_FAILURE() << "no hello within the bound";
  } catch (const ConnectionError& error) {
    ADD_FAILURE() << "no hello: " << error.what();
  }
  return nullptr;
}

// Every process's command line, its arguments joined by blanks.
std::vector<std::string> CommandLines() {
  std::vector<std::string> lines;
  std::error_code error;
  for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::string line = ReadFile(entry->path() / "cmdline");
    std::replace(line.begin(), line.end(), '\0', ' ');
    lines.push_back(name + ": " + line);
  }
  return lines;
}

// How many processes carry `entry` ("NAME=value") in their environment.
int ProcessesWithEnvironmentEntry(const std::string& entry) {
  int count = 0;
  std::error_code error;
  for (fs::directory_iterator process("/proc", error), end; !error && process != end; process.increment(error)) {
    std::string environment = ReadFile(process->path() / "environ");
    std::replace(environment.begin(), environment.end(), '\0', '\n');
    if (("\n" + environment).find("\n" + entry + "\n") != std::string::npos) {
      ++count;
    }
  }
  return count;
}

std::string Upper(std::string text) {
  for (char& character : text) {
    character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
  }
  return text;
}

WinePlatformSettings PlatformSettings() {
  WinePlatformSettings settings;
  settings.wine_root = kWineRoot;
  settings.default_hosts = {{kHostPath, "configured for the tests"}};
  return settings;
}

class BridgeAccessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setup_error_.clear();
    if (!fs::is_regular_file(kHostPath)) {
      setup_error_ = std::string("the host ") + kHostPath +
                     " does not exist: build the Windows tree first (scripts/setup.sh builds every tree), or "
                     "configure this tree with -DPELMORA_HOST_EXECUTABLE=PATH";
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "pelmora-bridge-access.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      setup_error_ = std::string("mkdtemp failed: ") + std::strerror(errno);
      return;
    }
    folder_ = fs::path(pattern);
    try {
      platform_ = std::make_unique<WinePlatform>(PlatformSettings());
      std::ostringstream notes;
      host_ = platform_->StartHost(HostLaunchOptions{}, notes, [] { return false; });
    } catch (const std::exception& error) {
      setup_error_ = std::string("the host did not start: ") + error.what();
    }
  }

  static void TearDownTestSuite() {
    if (host_) {
      try {
        auto client = std::make_unique<BridgeClient>(ConnectToLocalPort(host_->port()), host_->interface_secret());
        client->SendCloseRequest();
      } catch (const std::exception&) {
        // Stopped by the process object below.
      }
      host_->WaitForExit(kReplyTimeout);
      host_.reset();
    }
    platform_.reset();
    if (folder_) {
      std::error_code error;
      fs::remove_all(*folder_, error);
      folder_.reset();
    }
  }

  void SetUp() override { ASSERT_THAT(setup_error_, IsEmpty()); }

 public:
  static HostProcess& Host() { return *host_; }

 protected:

  static inline std::string setup_error_;
  static inline std::optional<fs::path> folder_;
  static inline std::unique_ptr<WinePlatform> platform_;
  static inline std::unique_ptr<HostProcess> host_;
};

// The host's latest refusal line once it holds `reason` (it comes through the host's output pipe,
// maybe a moment after the connection closed), or the latest one when the bound passes first.
std::string LatestRefusal(const std::string& reason) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  std::string line;
  while ((line = LastLineWith(BridgeAccessTest::Host().RecentOutput(), kRefusalLine)).find(reason) ==
             std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return line;
}

class StrangerTest : public BridgeAccessTest, public ::testing::WithParamInterface<Account> {};

TEST_P(StrangerTest, GetsNoHelloAndRunsNothingAndTheSecretGetsInAfterIt) {
  const Account account = GetParam();
  if (account == Account::kAnotherUser) {
    if (const std::string reason = WhyNoOtherUser(*folder_); !reason.empty()) {
      GTEST_SKIP() << "cannot try as another user: " << reason;
    }
  }
  const uint16_t port = host_->port();
  const std::string secret = embedding::InterfaceSecretText(host_->interface_secret());
  // A key of this run's own, which the strangers try to store.
  const std::string key = "bridge-access-test/" + folder_->filename().string() +
                          (account == Account::kThisUser ? "/this-user" : "/another-user");
  struct Scenario {
    const char* name;
    const char* reason;  // a part of the host's line about it
  };
  // Consecutive reasons differ, so each attempt's line is told from the one before. Silence has
  // a test of its own (it costs the host's 5 seconds each time).
  const Scenario scenarios[] = {
      {"call-first", "the first frame is kind 1, not the authentication frame"},
      {"close-first", "the first frame is kind 5, not the authentication frame"},
      {"wrong-secret", "wrong interface secret"},
      {"not-a-secret", "holds no secret of 64 hexadecimal digits"},
  };
  {
    for (const Scenario& scenario : scenarios) {
      SCOPED_TRACE(std::string(Name(account)) + ", " + scenario.name);
      const ProgramOutcome probe =
          RunProgram(AsAccount(account, {kProbePath, std::to_string(port), scenario.name, key}), *folder_);
      EXPECT_EQ(probe.out, "closed\n") << probe.err;
      EXPECT_THAT(LatestRefusal(scenario.reason), HasSubstr(scenario.reason));
    }
  }

  // The host still runs, and the holder of the secret is let in on a new connection.
  ASSERT_FALSE(host_->WaitForExit(std::chrono::milliseconds(0)).has_value()) << "a stranger closed the host";
  const std::unique_ptr<BridgeClient> client = ConnectWith(port, host_->interface_secret());
  ASSERT_NE(client, nullptr);
  const EncodableValue arguments(EncodableMap{{EncodableValue("key"), EncodableValue(key)}});
  const Reply stored = WaitForReply(*client, client->SendMethodCall(kNativeChannel, "secureRead", &arguments));
  EXPECT_EQ(stored.kind, ReplyKind::kSuccess);
  EXPECT_EQ(stored.value, EncodableValue(false)) << "a stranger's call stored the key";
  for (const std::string& line : host_->RecentOutput()) {
    EXPECT_THAT(line, Not(HasSubstr(secret)));
  }
}

INSTANTIATE_TEST_SUITE_P(Accounts, StrangerTest, ::testing::Values(Account::kThisUser, Account::kAnotherUser),
                         [](const ::testing::TestParamInfo<Account>& info) {
                           return std::string(info.param == Account::kThisUser ? "ThisUser" : "AnotherUser");
                         });

// A connection that never sends its secret is closed after the host's 5 seconds, whoever made it,
// and the next interface is served.
TEST_F(BridgeAccessTest, SilentConnectionsOfEitherAccountAreClosedAfterFiveSeconds) {
  const std::string silence = "no authentication frame within 5000 ms";
  const std::string other_user = WhyNoOtherUser(*folder_);
  std::vector<Account> accounts = {Account::kThisUser};
  if (other_user.empty()) {
    accounts.push_back(Account::kAnotherUser);
  }
  for (const Account account : accounts) {
    SCOPED_TRACE(Name(account));
    // A refusal of another kind first, so this attempt's line is told from an earlier silence.
    EXPECT_EQ(RunProgram(AsAccount(account, {kProbePath, std::to_string(host_->port()), "close-first", "-"}), *folder_)
                  .out,
              "closed\n");
    EXPECT_THAT(LatestRefusal("the first frame is kind 5"), HasSubstr("the first frame is kind 5"));
    const ProgramOutcome probe =
        RunProgram(AsAccount(account, {kProbePath, std::to_string(host_->port()), "silent", "-"}), *folder_);
    EXPECT_EQ(probe.out, "closed\n") << probe.err;
    EXPECT_THAT(LatestRefusal(silence), HasSubstr(silence));
  }
  EXPECT_NE(ConnectWith(host_->port(), host_->interface_secret()), nullptr);
  if (!other_user.empty()) {
    GTEST_SKIP() << "not tried as another user: " << other_user;
  }
}

// The client's launcher hands the secret over in the host's environment, which only this user
// (and root) can read: it is on no process's command line, and in nothing the host writes.
TEST_F(BridgeAccessTest, TheSecretIsInTheHostsEnvironmentAndOnNoCommandLine) {
  const std::string secret = embedding::InterfaceSecretText(host_->interface_secret());
  EXPECT_GE(ProcessesWithEnvironmentEntry(std::string(embedding::kInterfaceSecretVariable) + "=" + secret), 1)
      << "no process has the secret in its environment: how did the host get it?";
  for (const std::string& command_line : CommandLines()) {
    EXPECT_THAT(command_line, Not(HasSubstr(secret)));
    EXPECT_THAT(command_line, Not(HasSubstr(Upper(secret))));
  }
  for (const std::string& line : host_->RecentOutput()) {
    EXPECT_THAT(line, Not(HasSubstr(secret)));
  }
}

// Reads the host's output until its listening line: the port, and the secret file's Windows path
// from the line before it. False when the host ends or the bound passes first.
bool ReadHostStart(ChildProcess& host, uint16_t* port, std::string* secret_file, std::string* output) {
  const std::string listening = "Interface bridge listening on 127.0.0.1:";
  const std::string published = "Interface bridge: its secret is in ";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{host.output_descriptor(), POLLIN, 0};
    if (::poll(&entry, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t count = ::read(host.output_descriptor(), buffer, sizeof(buffer));
      if (count <= 0) {
        return false;
      }
      output->append(buffer, static_cast<size_t>(count));
    }
    std::istringstream lines(*output);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      if (line.rfind(published, 0) == 0) {
        *secret_file = line.substr(published.size(), line.find(", readable only by this user") - published.size());
      }
      if (line.rfind(listening, 0) == 0) {
        *port = static_cast<uint16_t>(std::stoi(line.substr(listening.size())));
        return true;
      }
    }
    if (host.TryWait()) {
      return false;
    }
  }
  return false;
}

// A host started by hand, without a secret, in the client's Wine settings: it publishes its own
// in a file of its user's that no other account may read, the client's --port finds it there,
// strangers of either account get nothing, and the file goes with the host.
TEST_F(BridgeAccessTest, AHostStartedWithoutASecretPublishesItsOwnToItsUserAlone) {
  // The same settings as the client's, without any secret.
  const std::vector<std::string> environment = platform_->WineEnvironment(DisplayMode::kNullDriver);
  ChildProcess host({"wine", kHostPath}, environment, fs::path(kHostPath).parent_path().string(), ChildOutput::kPipe);
  uint16_t port = 0;
  std::string windows_file;
  std::string output;
  ASSERT_TRUE(ReadHostStart(host, &port, &windows_file, &output)) << output;
  // C:\users\NAME\AppData\Local\Pelmora\interface-bridge-PORT.secret, in the prefix's drive_c.
  ASSERT_EQ(windows_file.rfind("C:\\", 0), 0u) << output;
  std::string relative = windows_file.substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  const fs::path file = fs::path(kWineRoot) / "prefix" / "drive_c" / relative;
  EXPECT_EQ(file.filename(), "interface-bridge-" + std::to_string(port) + ".secret");

  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0) << file << ": " << std::strerror(errno);
  EXPECT_EQ(status.st_uid, ::geteuid());
  EXPECT_EQ(status.st_mode & S_IRWXO, 0u) << "other users may use " << file;
  const std::string digits = ReadFile(file);
  ASSERT_EQ(digits.size(), 65u);
  const std::optional<embedding::InterfaceSecret> secret = embedding::ParseInterfaceSecret(digits.substr(0, 64));
  ASSERT_TRUE(secret.has_value()) << "not a secret in " << file;
  EXPECT_THAT(output, Not(HasSubstr(digits.substr(0, 64))));

  const std::string other_user = WhyNoOtherUser(*folder_);
  if (other_user.empty()) {
    const ProgramOutcome read = RunProgram(AsAccount(Account::kAnotherUser, {"cat", file.string()}), *folder_);
    EXPECT_NE(read.status, 0) << "another user read the secret's file";
    EXPECT_THAT(read.out, IsEmpty());
    const ProgramOutcome probe = RunProgram(
        AsAccount(Account::kAnotherUser, {kProbePath, std::to_string(port), "call-first", "bridge-access-test/x"}),
        *folder_);
    EXPECT_EQ(probe.out, "closed\n") << probe.err;
  }

  // The client with --port and no variable finds the file in its Wine settings.
  std::vector<std::string> client_environment = {"PELMORA_WINE_ROOT=" + std::string(kWineRoot)};
  const ProgramOutcome listed = RunProgram({"env", "-u", embedding::kInterfaceSecretVariable, kClientPath, "--port",
                                            std::to_string(port), "call", "getDrives"},
                                           *folder_, client_environment);
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_THAT(listed.out, HasSubstr("\"driveLetter\": \"C\""));
  EXPECT_THAT(listed.err, IsEmpty());

  {
    const std::unique_ptr<BridgeClient> client = ConnectWith(port, *secret);
    ASSERT_NE(client, nullptr);
    client->SendCloseRequest();
  }
  EXPECT_EQ(host.WaitFor(kReplyTimeout), std::optional<int>(0));
  EXPECT_FALSE(fs::exists(file)) << "the secret's file outlived the host";
  if (!other_user.empty()) {
    GTEST_SKIP() << "the file and the bridge were not tried as another user: " << other_user;
  }
}

}  // namespace
}  // namespace pel_mora::cli
