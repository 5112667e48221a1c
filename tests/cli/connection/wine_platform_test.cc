// Starting the host under Wine and mapping drive letters, with a shell script in Wine's place:
// the launcher's environment, its wait for the bridge line, the close at the end and the
// report of a host that does not start, all without Wine or a host build.

#include "cli/connection/wine_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "cli/commands/commands.h"
#include "cli/connection/drive_letter_loan.h"
#include "embedding/interface_secret.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::BatchEvent;
using testing::CancelledEvent;
using testing::CompletedEvent;
using testing::DriveRecord;
using testing::FakeBridgeHost;
using testing::FileEntry;
using testing::ScanScript;
using testing::ScriptedReply;
using testing::StartedEvent;

std::string ReadFile(const fs::path& path) {
  std::ifstream stream(path);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class WinePlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelmora-cli-test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    wine_root_ = folder_ / "wine";
    // A prefix as scripts/wine-environment.sh leaves it: ready, null driver, C: and Z:.
    fs::create_directories(wine_root_ / "prefix" / "dosdevices");
    WriteFile(wine_root_ / "prefix" / ".pelmora-ready", "");
    fs::create_directory_symlink("../drive_c", wine_root_ / "prefix" / "dosdevices" / "c:");
    fs::create_directory_symlink("/", wine_root_ / "prefix" / "dosdevices" / "z:");
    host_path_ = folder_ / "runner" / "pelmora.exe";
    fs::create_directories(host_path_.parent_path() / "data" / "flutter_assets");
    WriteFile(host_path_, "MZ");
    host_.set_drives({DriveRecord("C", 3, true, "", "NTFS", 1024, 0)});
    host_.set_close_flag_path((folder_ / "closed").string());
    // The platform makes the host's secret; the fake host plays the host that got it.
    host_.accept_any_secret();
  }

  void TearDown() override { fs::remove_all(folder_); }

  // Where the platform looks for a host; empty: only at host_path_.
  std::vector<HostCandidate> hosts_;

  // A script that plays Wine: it logs every command line; as the host it saves its
  // environment, writes `host_output` and waits until the fake host has received the close
  // request, then exits with `exit_code`.
  void WriteFakeWine(const std::string& host_output, int exit_code = 0) {
    const fs::path log = folder_ / "wine.log";
    std::ostringstream script;
    script << "printf '%s\\n' \"$*\" >> '" << log.string() << "'\n"
           << "case \"$1\" in reg|wineboot|-k|-w) exit 0;; esac\n"
           << "env > '" << (folder_ / "host.env").string() << "'\n"
           << "pwd > '" << (folder_ / "host.pwd").string() << "'\n"
           << host_output << "\n";
    if (exit_code == 0) {
      script << "count=0\n"
             << "while [ ! -e '" << (folder_ / "closed").string() << "' ] && [ $count -lt 600 ]; do\n"
             << "  sleep 0.05; count=$((count + 1))\n"
             << "done\n";
    }
    script << "exit " << exit_code << "\n";
    WriteFile(folder_ / "fake-wine.sh", script.str());
  }

  std::string BridgeLine() const {
    // The Windows C runtime ends lines with CR LF.
    return "echo 'fake engine: warming up'; printf 'Interface bridge listening on 127.0.0.1:%s\\r\\n' " +
           std::to_string(host_.port()) + " >&2";
  }

  WinePlatformSettings Settings() const {
    WinePlatformSettings settings;
    settings.wine_root = wine_root_.string();
    settings.wine_command = {"/bin/sh", (folder_ / "fake-wine.sh").string()};
    settings.wineserver_command = {"/bin/sh", (folder_ / "fake-wine.sh").string()};
    settings.default_hosts = hosts_.empty() ? std::vector<HostCandidate>{{host_path_.string(), "in the test"}} : hosts_;
    settings.start_timeout = std::chrono::seconds(60);
    return settings;
  }

  struct Outcome {
    int status;
    std::string out;
    std::string err;
  };

  Outcome Run(const std::vector<std::string>& arguments, std::function<unsigned()> interrupt_count = nullptr) {
    // Each run's fake host waits for a close request of its own.
    fs::remove(folder_ / "closed");
    WinePlatform platform(Settings());
    std::ostringstream out;
    std::ostringstream err;
    CliEnvironment environment;
    environment.out = &out;
    environment.err = &err;
    environment.interrupt_count = std::move(interrupt_count);
    environment.platform = &platform;
    environment.session.exit_timeout = std::chrono::seconds(30);
    const int status = RunCli(arguments, environment);
    return {status, out.str(), err.str()};
  }

  fs::path folder_;
  fs::path wine_root_;
  fs::path host_path_;
  FakeBridgeHost host_;
};

TEST_F(WinePlatformTest, StartsTheHostInPrivateWineSettingsAndClosesIt) {
  WriteFakeWine(BridgeLine());
  Outcome outcome;
  // A secret meant for some running host stays out of the one this client starts.
  const std::string stray_secret(64, 'a');
  {
    const ScopedVariable display("DISPLAY", ":99");
    const ScopedVariable port("PELMORA_INTERFACE_PORT", "1");
    const ScopedVariable secret("PELMORA_INTERFACE_TOKEN", stray_secret.c_str());
    outcome = Run({"drives"});
  }

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("C:     Fixed"));
  EXPECT_TRUE(host_.close_requested());
  const std::string environment = ReadFile(folder_ / "host.env");
  EXPECT_THAT(environment, AllOf(HasSubstr("WINEPREFIX=" + (wine_root_ / "prefix").string() + "\n"),
                                 HasSubstr("HOME=" + (wine_root_ / "home").string() + "\n"),
                                 HasSubstr("XDG_DATA_HOME=" + (wine_root_ / "home/.local/share").string() + "\n"),
                                 HasSubstr("WINEDEBUG=-all\n")));
  EXPECT_THAT(environment, Not(HasSubstr("DISPLAY=")));
  EXPECT_THAT(environment, Not(HasSubstr("PELMORA_INTERFACE_PORT=")));
  EXPECT_THAT(environment, Not(HasSubstr(stray_secret)));
  // The host runs from its own folder, and an existing prefix is used as it is.
  EXPECT_EQ(ReadFile(folder_ / "host.pwd"), host_path_.parent_path().string() + "\n");
  EXPECT_EQ(ReadFile(folder_ / "wine.log"), host_path_.string() + "\n");
}

// The secret a started host gets: fresh for every host, in its environment, on no command line
// and in no output.
TEST_F(WinePlatformTest, EveryStartedHostGetsAFreshSecretInItsEnvironmentAlone) {
  WriteFakeWine(BridgeLine());
  std::vector<std::string> secrets;
  for (int run = 0; run < 2; ++run) {
    const Outcome outcome = Run({"drives"});
    ASSERT_EQ(outcome.status, kExitSuccess) << outcome.err;
    const std::string environment = ReadFile(folder_ / "host.env");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(environment, match, std::regex("(^|\n)PELMORA_INTERFACE_TOKEN=([0-9a-f]{64})\n")))
        << environment;
    secrets.push_back(match[2]);
    EXPECT_THAT(outcome.out + outcome.err, Not(HasSubstr(secrets.back())));
  }
  // Each connection opened with the secret of the host it was meant for.
  EXPECT_EQ(host_.secrets_received(), secrets);
  EXPECT_NE(secrets[0], secrets[1]);
  // The log holds every command line the fake Wine was given.
  EXPECT_THAT(ReadFile(folder_ / "wine.log"), AllOf(Not(HasSubstr(secrets[0])), Not(HasSubstr(secrets[1]))));
}

// A running host (--port): its secret comes from PELMORA_INTERFACE_TOKEN, else from the file that a
// host which made its own secret published in its Wine user's local application data, in the
// client's Wine settings or in $WINEPREFIX. A file other users may read, or one reached through a
// link, is not used; nothing the client says holds the secret.
TEST_F(WinePlatformTest, ARunningHostsSecretComesFromTheVariableOrItsPrivateFile) {
  FakeBridgeHost running;  // lets in only its own secret
  running.set_drives({DriveRecord("C", 3, true, "", "NTFS", 1024, 0)});
  const std::string secret = embedding::InterfaceSecretText(running.secret());
  const std::string port = std::to_string(running.port());
  const std::string file_name = "interface-bridge-" + port + ".secret";
  const fs::path other_prefix = folder_ / "other-prefix";
  const auto publish_folder = [&](const fs::path& prefix) {
    return prefix / "drive_c" / "users" / "someone" / "AppData" / "Local" / "Pelmora";
  };
  const fs::path own_file = publish_folder(wine_root_ / "prefix") / file_name;
  const fs::path other_file = publish_folder(other_prefix) / file_name;
  const auto write_secret = [&](const fs::path& file, fs::perms permissions) {
    fs::create_directories(file.parent_path());
    WriteFile(file, secret + "\n");
    fs::permissions(file, permissions);
  };
  const fs::perms owner_only = fs::perms::owner_read | fs::perms::owner_write;
  std::string upper = secret;
  for (char& digit : upper) {
    digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
  }

  struct Case {
    const char* name;
    std::optional<std::string> variable;
    std::function<void()> place_files;
    int status;
    std::string err;  // a part of standard error; empty: none at all
    bool admitted;
  };
  const std::string closed = "closed the connection before its hello";
  const Case cases[] = {
      {"the variable", secret, [] {}, kExitSuccess, "", true},
      {"the variable in upper case", upper, [] {}, kExitSuccess, "", true},
      {"a wrong variable, with the right file there too", std::string(64, '0'),
       [&] { write_secret(own_file, owner_only); }, kExitUsage, closed, false},
      {"a variable that is no secret", std::string("not-a-secret"), [] {}, kExitUsage,
       "PELMORA_INTERFACE_TOKEN is not 64 hexadecimal digits", false},
      {"a private file in the client's Wine settings", std::nullopt, [&] { write_secret(own_file, owner_only); },
       kExitSuccess, "", true},
      {"a private file in WINEPREFIX", std::nullopt, [&] { write_secret(other_file, owner_only); }, kExitSuccess, "",
       true},
      {"a file others may read", std::nullopt,
       [&] { write_secret(own_file, owner_only | fs::perms::others_read); }, kExitUsage,
       own_file.string() + " (not used: other users may read it)", false},
      {"a link to a private file", std::nullopt,
       [&] {
         write_secret(folder_ / "elsewhere.secret", owner_only);
         fs::create_directories(own_file.parent_path());
         fs::create_symlink(folder_ / "elsewhere.secret", own_file);
       },
       kExitUsage, own_file.string() + " (not used: ", false},
      {"nothing anywhere", std::nullopt, [] {}, kExitUsage,
       "pelmora-cli: no secret for the host on 127.0.0.1:" + port + ": set PELMORA_INTERFACE_TOKEN", false},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    fs::remove_all(wine_root_ / "prefix" / "drive_c");
    fs::remove_all(other_prefix);
    fs::remove(folder_ / "elsewhere.secret");
    test_case.place_files();
    const int admitted_before = running.admitted_connections();
    Outcome outcome;
    {
      const ScopedVariable root("PELMORA_WINE_ROOT", wine_root_.c_str());
      const ScopedVariable prefix("WINEPREFIX", other_prefix.c_str());
      const ScopedVariable variable("PELMORA_INTERFACE_TOKEN",
                                    test_case.variable ? test_case.variable->c_str() : nullptr);
      outcome = Run({"--port", port, "call", "getDrives"});
    }
    EXPECT_EQ(outcome.status, test_case.status) << outcome.err;
    if (test_case.err.empty()) {
      EXPECT_EQ(outcome.err, "");
    } else {
      EXPECT_THAT(outcome.err, HasSubstr(test_case.err));
    }
    EXPECT_THAT(outcome.err, Not(HasSubstr(secret)));
    EXPECT_EQ(running.admitted_connections() - admitted_before, test_case.admitted ? 1 : 0);
  }
  // Only the connections that were let in asked anything.
  EXPECT_EQ(running.calls().size(), 4u);
}

TEST_F(WinePlatformTest, ADisplayModeChangeReconfiguresThePrefixOnce) {
  WriteFakeWine(BridgeLine());
  EXPECT_EQ(Run({"--display", "drives"}).status, kExitSuccess);
  EXPECT_EQ(Run({"--display", "drives"}).status, kExitSuccess);
  EXPECT_EQ(Run({"drives"}).status, kExitSuccess);
  // The driver value, then the wineserver goes (it keeps the display it started with).
  const std::string host = host_path_.string();
  EXPECT_EQ(ReadFile(folder_ / "wine.log"),
            "reg delete HKCU\\Software\\Wine\\Drivers /v Graphics /f\n"
            "-k\n" +
                host + "\n" + host +
                "\n"
                "reg add HKCU\\Software\\Wine\\Drivers /v Graphics /d null /f\n"
                "-k\n" +
                host + "\n");
}

TEST_F(WinePlatformTest, ANewPrefixIsMadeLikeTheTestPrefixWithAFreshWineserverAtTheEnd) {
  // No stamp: the prefix is made as scripts/wine-environment.sh makes it, in the same order.
  fs::remove(wine_root_ / "prefix" / ".pelmora-ready");
  WriteFakeWine(BridgeLine());
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("creating the Wine settings in " + (wine_root_ / "prefix").string()));
  EXPECT_EQ(ReadFile(folder_ / "wine.log"),
            "wineboot --init\n"
            "-w\n"
            "reg add HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug /v Debugger /d cmd.exe /c exit /f\n"
            "reg add HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug /v Auto /d 1 /f\n"
            "reg add HKCU\\Software\\Wine\\Drivers /v Graphics /d null /f\n"
            "-k\n" +
                host_path_.string() + "\n");
  EXPECT_TRUE(fs::exists(wine_root_ / "prefix" / ".pelmora-ready"));
}

// A prefix that cannot be set up says why, in Wine's own words, and is not marked ready.
TEST_F(WinePlatformTest, APrefixSetupThatFailsSaysWhatWineSaid) {
  fs::remove(wine_root_ / "prefix" / ".pelmora-ready");
  WriteFile(folder_ / "fake-wine.sh",
            "case \"$*\" in *Graphics*) echo 'reg: Unable to access or create the specified registry key'; exit 1;; "
            "esac\nexit 0\n");
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("cannot select Wine's null graphics driver in " + (wine_root_ / "prefix").string() +
                                     " (wine reg exited with 1: reg: Unable to access or create the specified "
                                     "registry key)\n"));
  EXPECT_FALSE(fs::exists(wine_root_ / "prefix" / ".pelmora-ready"));
}

TEST_F(WinePlatformTest, ACtrlCWhileThePrefixIsMadeFinishesItButStartsNoHost) {
  fs::remove(wine_root_ / "prefix" / ".pelmora-ready");
  WriteFakeWine(BridgeLine());
  const Outcome outcome = Run({"drives"}, [] { return 1u; });
  EXPECT_EQ(outcome.status, kExitInterrupted) << outcome.err;
  EXPECT_THAT(ReadFile(folder_ / "wine.log"), AllOf(::testing::StartsWith("wineboot --init\n"),
                                                    ::testing::EndsWith("/v Graphics /d null /f\n-k\n")));
  EXPECT_TRUE(fs::exists(wine_root_ / "prefix" / ".pelmora-ready"));
  EXPECT_EQ(host_.connections(), 0);
}

TEST_F(WinePlatformTest, AHostThatDoesNotStartIsReportedWithItsLastLines) {
  WriteFakeWine("printf '%s\\n' 'engine: data\\flutter_assets is missing' 'window creation failed' >&2", 1);
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_EQ(outcome.err,
            "pelmora-cli: the host did not start: it exited with code 1 before its interface bridge listened\n"
            "The host's last lines:\n"
            "  engine: data\\flutter_assets is missing\n"
            "  window creation failed\n");
  EXPECT_EQ(host_.connections(), 0);
}

TEST_F(WinePlatformTest, MissingHostOrAssetsAreNamed) {
  WriteFakeWine(BridgeLine());
  const Outcome missing = Run({"--host", (folder_ / "nowhere.exe").string(), "drives"});
  EXPECT_EQ(missing.status, kExitUsage);
  EXPECT_THAT(missing.err, HasSubstr("nowhere.exe was not found; build it with scripts/setup.sh"));

  fs::remove_all(host_path_.parent_path() / "data");
  const Outcome no_assets = Run({"drives"});
  EXPECT_EQ(no_assets.status, kExitUsage);
  EXPECT_THAT(no_assets.err, HasSubstr("has no data/flutter_assets folder beside it"));
  EXPECT_FALSE(fs::exists(folder_ / "wine.log"));
}

TEST_F(WinePlatformTest, TheFirstHostFoundStartsAndAMissingOneSaysEveryPlaceLooked) {
  WriteFakeWine(BridgeLine());
  const std::string beside = (folder_ / "cli" / "pelmora.exe").string();
  const std::string named = (folder_ / "elsewhere" / "pelmora.exe").string();

  hosts_ = {{beside, "beside the client"}, {host_path_.string(), "in the build the client belongs to"}};
  const Outcome second = Run({"drives"});
  EXPECT_EQ(second.status, kExitSuccess) << second.err;
  EXPECT_EQ(ReadFile(folder_ / "wine.log"), host_path_.string() + "\n");

  hosts_ = {{beside, "beside the client"}, {named, "in the build the client belongs to"}};
  const Outcome none = Run({"drives"});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_EQ(none.err, "pelmora-cli: no host found; looked for pelmora.exe at:\n  " + beside +
                          " (beside the client)\n  " + named +
                          " (in the build the client belongs to)\nbuild it with scripts/setup.sh, name it with "
                          "--host PATH or PELMORA_HOST, or use a running host with --port N\n");

  hosts_ = {{named, "named by PELMORA_HOST"}};
  const Outcome from_variable = Run({"drives"});
  EXPECT_EQ(from_variable.status, kExitUsage);
  EXPECT_THAT(from_variable.err, HasSubstr("the host " + named + " named by PELMORA_HOST was not found; "));
  // Only the first run started anything.
  EXPECT_EQ(ReadFile(folder_ / "wine.log"), host_path_.string() + "\n");
}

TEST_F(WinePlatformTest, MapGivesAFolderADriveLetter) {
  const fs::path first = folder_ / "first";
  const fs::path second = folder_ / "second";
  fs::create_directories(first);
  fs::create_directories(second);
  const fs::path link = wine_root_ / "prefix" / "dosdevices" / "q:";

  const Outcome mapped = Run({"map", "q", first.string()});
  EXPECT_EQ(mapped.status, kExitSuccess) << mapped.err;
  EXPECT_EQ(mapped.out, "Drive Q: now shows " + first.string() + "\n");
  EXPECT_EQ(fs::read_symlink(link), first);

  const Outcome remapped = Run({"map", "Q:", second.string()});
  EXPECT_EQ(remapped.status, kExitSuccess) << remapped.err;
  EXPECT_EQ(remapped.out, "Drive Q: now shows " + second.string() + " (it showed " + first.string() + " before)\n");
  EXPECT_EQ(fs::read_symlink(link), second);

  const Outcome listed = Run({"map"});
  EXPECT_EQ(listed.status, kExitSuccess);
  EXPECT_EQ(listed.out, "Drive letters in " + (wine_root_ / "prefix").string() +
                            ":\n"
                            "  C:  ../drive_c\n"
                            "  Q:  " +
                            second.string() +
                            "\n"
                            "  Z:  /\n");
}

TEST_F(WinePlatformTest, MapRefusesWhatWouldBreakThePrefix) {
  const fs::path plain_file = folder_ / "file.txt";
  WriteFile(plain_file, "x");
  fs::create_directories(wine_root_ / "prefix" / "dosdevices" / "r:");
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"map", "C", folder_.string()}, "drive C: holds the Wine prefix's Windows folder"},
      {{"map", "z", folder_.string()}, "drive Z: shows the whole Linux file system"},
      {{"map", "Q", (folder_ / "absent").string()}, "cannot use "},
      {{"map", "Q", plain_file.string()}, "file.txt is not a folder"},
      {{"map", "R", folder_.string()}, "r: exists and is not a symbolic link; it is left alone"},
      {{"map", "QQ", folder_.string()}, "\"QQ\" is not a drive letter"},
      {{"map", "Q"}, "usage: pelmora-cli map LETTER FOLDER"},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << test_case.arguments[1];
    EXPECT_THAT(outcome.err, HasSubstr(test_case.message));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(wine_root_ / "prefix" / "dosdevices" / "q:")));
  EXPECT_EQ(fs::read_symlink(wine_root_ / "prefix" / "dosdevices" / "c:"), "../drive_c");
}

TEST_F(WinePlatformTest, UnmapRemovesOnlyTheLinkAndNeverCOrZ) {
  const fs::path shown = folder_ / "shown";
  fs::create_directories(shown);
  WriteFile(shown / "keep.txt", "x");
  ASSERT_EQ(Run({"map", "Q", shown.string()}).status, kExitSuccess);
  const Outcome listed = Run({"maps"});
  EXPECT_THAT(listed.out, HasSubstr("  Q:  " + shown.string() + "\n"));

  const Outcome removed = Run({"unmap", "q:"});
  EXPECT_EQ(removed.status, kExitSuccess) << removed.err;
  EXPECT_EQ(removed.out, "Drive Q: removed (it showed " + shown.string() + ")\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(wine_root_ / "prefix" / "dosdevices" / "q:")));
  EXPECT_TRUE(fs::exists(shown / "keep.txt"));

  for (const char* letter : {"Q", "C", "Z"}) {
    const Outcome refused = Run({"unmap", letter});
    EXPECT_EQ(refused.status, kExitUsage) << letter;
    EXPECT_THAT(refused.err, HasSubstr(std::string("drive ") + letter + ":")) << letter;
  }
  EXPECT_EQ(fs::read_symlink(wine_root_ / "prefix" / "dosdevices" / "c:"), "../drive_c");
  EXPECT_EQ(fs::read_symlink(wine_root_ / "prefix" / "dosdevices" / "z:"), "/");
}

TEST_F(WinePlatformTest, ScanOfAnUnmappedLetterFailsBeforeTheHostStarts) {
  WriteFakeWine(BridgeLine());
  const Outcome outcome = Run({"scan", "Q"});
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_EQ(outcome.err, "pelmora-cli: unknown drive Q: (the Wine settings in " + (wine_root_ / "prefix").string() +
                             " have no drive Q:; give a folder that letter with: pelmora-cli map Q FOLDER)\n");
  EXPECT_FALSE(fs::exists(folder_ / "wine.log"));
}

// A window nobody can see would wait forever (a dialog) or leave a process behind (an opened
// application), so these are refused before Wine is run at all.
TEST_F(WinePlatformTest, WindowCommandsWithoutADisplayAreRefusedBeforeTheHostStarts) {
  WriteFakeWine(BridgeLine());
  WriteFile(folder_ / "file.txt", "x");
  const std::string file = (folder_ / "file.txt").string();
  struct Case {
    std::vector<std::string> arguments;
    const char* display;  // the DISPLAY the client sees; null: unset
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"pick"}, ":99", "pick shows a window, so it needs a display: run it with --display"},
      {{"open", file}, ":99", "open shows a window, so it needs a display: run it with --display"},
      {{"reveal", file}, nullptr, "reveal shows a window, so it needs a display: run it with --display"},
      {{"--display", "pick"}, nullptr, "pick needs a display, and --display was given but DISPLAY is not set"},
      {{"--display", "open", file}, "", "open needs a display, and --display was given but DISPLAY is not set"},
      {{"--display", "reveal", file}, nullptr,
       "reveal needs a display, and --display was given but DISPLAY is not set"},
  };
  for (const Case& test_case : cases) {
    const ScopedVariable display("DISPLAY", test_case.display);
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << outcome.err;
    EXPECT_EQ(outcome.err, "pelmora-cli: " + test_case.error + "\n");
  }
  EXPECT_FALSE(fs::exists(folder_ / "wine.log"));
}

TEST_F(WinePlatformTest, PickWithADisplayAsksTheHost) {
  WriteFakeWine(BridgeLine());
  host_.set_method_reply("pickFolder",
                         [](const flutter::EncodableValue&) { return testing::ScriptedReply::Success(flutter::EncodableValue("C:\\x")); });
  const ScopedVariable display("DISPLAY", ":99");
  const Outcome outcome = Run({"--display", "pick"});
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_EQ(outcome.out, "C:\\x\n");
}

// A folder given to scan gets the first free letter for the command only: the host sees it while
// it runs, and it is gone afterwards. Letters with a folder or a device are passed over.
TEST_F(WinePlatformTest, AScannedFolderGetsAFreeLetterForTheCommandOnly) {
  const fs::path photos = folder_ / "photos";
  const fs::path elsewhere = folder_ / "elsewhere";
  fs::create_directories(photos);
  fs::create_directories(elsewhere);
  const fs::path devices = wine_root_ / "prefix" / "dosdevices";
  fs::create_directory_symlink(elsewhere, devices / "d:");
  WriteFile(devices / "e::", "");  // a CD drive's device without a folder
  // The host records which folder its F: showed while it ran, whether another client could have
  // taken F: meanwhile, and what it inherited: a lock it held would outlive a killed client.
  const std::string lock = (wine_root_ / "drive-letters" / "f.lock").string();
  WriteFakeWine("readlink \"$WINEPREFIX/dosdevices/f:\" > '" + (folder_ / "f-during-scan").string() + "'; " +
                "flock --nonblock --exclusive '" + lock + "' true; echo $? > '" + (folder_ / "f-taken").string() +
                "'; ls -l /proc/$$/fd > '" + (folder_ / "host-descriptors").string() + "'; " + BridgeLine());
  ScanScript script;
  script.events = {StartedEvent("F:\\"), BatchEvent({FileEntry("F:\\a.jpg", 2048)}, 1, 0, 2048),
                   CompletedEvent(1, 0, 2048, 10)};
  host_.set_scan_script(script);

  const Outcome outcome = Run({"scan", photos.string()});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("Drive F: shows " + photos.string() + " while this command runs\n"));
  EXPECT_THAT(outcome.out, HasSubstr("Scan of F:\\ completed"));
  EXPECT_EQ(ReadFile(folder_ / "f-during-scan"), photos.string() + "\n");
  EXPECT_EQ(ReadFile(folder_ / "f-taken"), "1\n");
  EXPECT_THAT(ReadFile(folder_ / "host-descriptors"), Not(HasSubstr("drive-letters")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(devices / "f:")));
  EXPECT_EQ(fs::read_symlink(devices / "d:"), elsewhere);
  EXPECT_TRUE(fs::exists(devices / "e::"));
}

// A letter that already shows the folder (by identity: here through a link to it) is used and
// kept; a search below it names that letter.
TEST_F(WinePlatformTest, AFolderThatHasALetterAlreadyKeepsIt) {
  const fs::path photos = folder_ / "photos";
  fs::create_directories(photos);
  fs::create_directory_symlink(photos, folder_ / "alias");
  ASSERT_EQ(Run({"map", "P", photos.string()}).status, kExitSuccess);
  WriteFakeWine(BridgeLine());
  host_.set_method_reply("searchFiles", [](const flutter::EncodableValue&) {
    return testing::ScriptedReply::Success(flutter::EncodableValue(flutter::EncodableList{}));
  });

  const Outcome outcome = Run({"search", (folder_ / "alias").string(), "holiday"});

  EXPECT_EQ(outcome.err.rfind("Using drive P:, which shows " + (folder_ / "alias").string() + "\n", 0), 0u)
      << outcome.err;
  const std::optional<flutter::EncodableValue> request = host_.last_arguments("searchFiles");
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(std::get<flutter::EncodableMap>(*request).at(flutter::EncodableValue("rootPath")),
            flutter::EncodableValue("P:\\"));
  EXPECT_EQ(fs::read_symlink(wine_root_ / "prefix" / "dosdevices" / "p:"), photos);
}

// The lent letter goes however the command ends: here the host never starts.
TEST_F(WinePlatformTest, ALentLetterIsRemovedWhenTheHostFailsToStart) {
  const fs::path photos = folder_ / "photos";
  fs::create_directories(photos);
  WriteFakeWine("echo 'cannot start'", 3);

  const Outcome outcome = Run({"dupes", photos.string()});

  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("Drive D: shows " + photos.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(wine_root_ / "prefix" / "dosdevices" / "d:")));
}

TEST_F(WinePlatformTest, FoldersThatCannotBeScannedAreRefusedBeforeALetterIsLent) {
  WriteFakeWine(BridgeLine());
  WriteFile(folder_ / "file.txt", "x");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"scan", (folder_ / "file.txt").string()}, (folder_ / "file.txt").string() + " is not a folder"},
      {{"scan", (folder_ / "absent").string()}, "is neither a drive letter (A to Z) nor a folder"},
      {{"browse", folder_.string()}, "browse is a full-screen program and needs a terminal"},
      {{"dupes", (folder_ / "absent").string()}, "no such folder: " + (folder_ / "absent").string()},
      {{"scan", "C:\\windows"}, "scan takes a drive letter or a Linux folder, not C:\\windows"},
      {{"--port", "1", "scan", folder_.string()}, "the host on --port has drive letters of its own"},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitUsage) << test_case.message;
    EXPECT_THAT(outcome.err, HasSubstr(test_case.message));
  }
  EXPECT_FALSE(fs::exists(folder_ / "wine.log"));
  EXPECT_EQ(Run({"maps"}).out, "Drive letters in " + (wine_root_ / "prefix").string() +
                                   ":\n"
                                   "  C:  ../drive_c\n"
                                   "  Z:  /\n");
}

TEST_F(WinePlatformTest, FreeLettersAreClaimedOnceAndARemappedLetterIsNotRemoved) {
  const fs::path photos = folder_ / "photos";
  fs::create_directories(photos);
  WinePlatform platform(Settings());
  std::ostringstream status;
  std::optional<DriveLetterMapping> first = platform.MapFreeDriveLetter(photos.string(), status);
  std::optional<DriveLetterMapping> second = platform.MapFreeDriveLetter(photos.string(), status);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->letter, 'D');
  EXPECT_EQ(second->letter, 'E');

  // Someone maps E: elsewhere meanwhile: theirs now, so it stays.
  const fs::path devices = wine_root_ / "prefix" / "dosdevices";
  fs::remove(devices / "e:");
  fs::create_directory_symlink(folder_, devices / "e:");
  platform.RemoveDriveLetterMapping(std::move(*first));
  platform.RemoveDriveLetterMapping(std::move(*second));
  EXPECT_FALSE(fs::exists(fs::symlink_status(devices / "d:")));
  EXPECT_EQ(fs::read_symlink(devices / "e:"), folder_);

  for (char letter = 'D'; letter <= 'Y'; ++letter) {
    std::error_code taken_already;  // E: is
    fs::create_directory_symlink(folder_, devices / (std::string(1, static_cast<char>(letter - 'A' + 'a')) + ":"),
                                 taken_already);
  }
  EXPECT_FALSE(platform.MapFreeDriveLetter(photos.string(), status).has_value());
  WriteFakeWine(BridgeLine());
  const Outcome refused = Run({"scan", photos.string()});
  EXPECT_EQ(refused.status, kExitUsage);
  EXPECT_THAT(refused.err, HasSubstr("every drive letter from D: to Y: is taken"));
}

// The attack on a letter a command acts through: D: shows folder A when the command resolves it,
// and another client (or anyone with the Wine settings) makes it show B, which holds a file of
// the same name, before the act. The fake host recycles what a path leads to through the
// prefix's letters, as the real one does, so a recycle sent through D: would take B's canary.
class RemappedLetterTest : public WinePlatformTest {
 protected:
  void SetUp() override {
    WinePlatformTest::SetUp();
    scanned_ = folder_ / "A";
    canaries_ = folder_ / "B";
    fs::create_directories(scanned_);
    fs::create_directories(canaries_);
    WriteFile(scanned_ / "keep.txt", "mine");
    WriteFile(canaries_ / "keep.txt", "canary");
    ASSERT_EQ(Run({"map", "D", scanned_.string()}).status, kExitSuccess);
    // A scan that is started ends at once.
    ScanScript script;
    script.events = {StartedEvent("D:\\"), BatchEvent({FileEntry("D:\\keep.txt", 6)}, 1, 0, 6),
                     CompletedEvent(1, 0, 6, 1)};
    host_.set_scan_script(script);
    const fs::path devices = wine_root_ / "prefix" / "dosdevices";
    host_.set_method_reply("recyclePaths", [devices](const flutter::EncodableValue& arguments) {
      const auto& paths = std::get<flutter::EncodableList>(
          std::get<flutter::EncodableMap>(arguments).at(flutter::EncodableValue("paths")));
      const std::string path = std::get<std::string>(paths.at(0));
      std::string below = path.substr(3);
      std::replace(below.begin(), below.end(), '\\', '/');
      const fs::path target = devices / (std::string(1, static_cast<char>(path[0] - 'A' + 'a')) + ":") / below;
      const bool removed = fs::remove(target);
      return ScriptedReply::Success(flutter::EncodableValue(
          flutter::EncodableMap{{flutter::EncodableValue("successCount"), flutter::EncodableValue(removed ? 1 : 0)},
                                {flutter::EncodableValue("failedCount"), flutter::EncodableValue(removed ? 0 : 1)},
                                {flutter::EncodableValue("freedBytes"), flutter::EncodableValue(4)}}));
    });
  }

  // What D: is made to show between the command's start and its act; Q:, which had no folder,
  // is given one.
  std::string Remap() const {
    return "ln -sfn '" + canaries_.string() + "' \"$WINEPREFIX/dosdevices/d:\"; ln -sfn '" + canaries_.string() +
           "' \"$WINEPREFIX/dosdevices/q:\"";
  }

  // The calls of `method` the fake host received so far.
  size_t CallsOf(const std::string& method) const {
    size_t count = 0;
    for (const std::string& call : host_.calls()) {
      count += call == "com.pelmora.app/native " + method ? 1 : 0;
    }
    return count;
  }

  fs::path scanned_;
  fs::path canaries_;
};

// Remapped while the host starts (seconds under Wine): every command that acts on a path through
// the letter refuses, says why and sends the host nothing.
TEST_F(RemappedLetterTest, EveryActThroughTheLetterIsRefusedAndSendsNothing) {
  WriteFakeWine(Remap() + "; " + BridgeLine());
  const std::string refusal = "drive D: no longer shows " + scanned_.string() + " (it was changed while this command ran)";
  struct Case {
    std::vector<std::string> arguments;
    std::string method;  // what the host must not be asked
    std::string said;    // on standard output for recycle, on standard error for the others
  };
  const std::vector<Case> cases = {
      {{"recycle", "D:\\keep.txt"}, "recyclePaths",
       "not recycled  D:\\keep.txt: " + refusal + "; nothing was sent to the host\n"},
      {{"recycle", "Q:\\keep.txt"}, "recyclePaths",
       "not recycled  Q:\\keep.txt: drive Q: leads to a folder now, and led nowhere when this command began; "
       "nothing was sent to the host\n"},
      {{"--display", "open", "D:\\keep.txt"}, "openFile", "pelmora-cli: " + refusal + "; nothing was opened\n"},
      {{"--display", "reveal", "D:\\keep.txt"}, "openInExplorer",
       "pelmora-cli: " + refusal + "; Explorer was not asked\n"},
      {{"verify", "D:\\keep.txt"}, "verifyAuthenticode", "pelmora-cli: " + refusal + "; nothing was verified\n"},
      {{"scan", "D"}, "startScan", "pelmora-cli: " + refusal + "; the scan was not started\n"},
      {{"dupes", "D:"}, "startDuplicateScan", "pelmora-cli: " + refusal + "; nothing was searched\n"},
      // A Linux folder that a letter shows already is reached through that letter.
      {{"search", scanned_.string(), "keep"}, "searchFiles", "pelmora-cli: " + refusal + "; nothing was searched\n"},
      {{"categories", "D"}, "scanCleanableCategories", "pelmora-cli: " + refusal + "; nothing was measured\n"},
      {{"clean", "temp", "--drive", "D", "--yes"}, "scanCleanableCategories",
       "pelmora-cli: " + refusal + "; nothing was measured\n"},
  };
  const ScopedVariable display("DISPLAY", ":99");
  const fs::path letter = wine_root_ / "prefix" / "dosdevices" / "d:";
  for (const Case& test_case : cases) {
    fs::remove(letter);
    fs::create_directory_symlink(scanned_, letter);
    fs::remove(wine_root_ / "prefix" / "dosdevices" / "q:");
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitFailure) << test_case.arguments[0] << ": " << outcome.err;
    EXPECT_THAT(test_case.method == "recyclePaths" ? outcome.out : outcome.err, HasSubstr(test_case.said))
        << test_case.arguments[0];
    EXPECT_EQ(CallsOf(test_case.method), 0u) << test_case.arguments[0];
    EXPECT_EQ(fs::read_symlink(letter), canaries_) << "the fake host did not remap the letter";
  }
  EXPECT_EQ(ReadFile(canaries_ / "keep.txt"), "canary");

  // Left as it was, the letter is acted through: the fake host does take what a path leads to.
  fs::remove(letter);
  fs::create_directory_symlink(scanned_, letter);
  WriteFakeWine(BridgeLine());
  const Outcome recycled = Run({"recycle", "D:\\keep.txt"});
  EXPECT_EQ(recycled.status, kExitSuccess) << recycled.out << recycled.err;
  EXPECT_FALSE(fs::exists(scanned_ / "keep.txt"));
  EXPECT_EQ(ReadFile(canaries_ / "keep.txt"), "canary");
}

// The clean-up measures first and asks the person, who may take a while: a letter remapped by
// then has its new folder's files measured by no one, so nothing is deleted.
TEST_F(RemappedLetterTest, ACleanUpIsRefusedWhenTheLetterChangesWhileThePersonConfirms) {
  WriteFakeWine(BridgeLine());
  const fs::path letter = wine_root_ / "prefix" / "dosdevices" / "d:";
  const fs::path canaries = canaries_;
  host_.set_method_reply("scanCleanableCategories", [letter, canaries](const flutter::EncodableValue&) {
    fs::remove(letter);
    fs::create_directory_symlink(canaries, letter);
    return ScriptedReply::Success(flutter::EncodableValue(flutter::EncodableList{flutter::EncodableValue(
        flutter::EncodableMap{{flutter::EncodableValue("id"), flutter::EncodableValue("drive_temp")},
                              {flutter::EncodableValue("name"), flutter::EncodableValue("Temporary files")},
                              {flutter::EncodableValue("group"), flutter::EncodableValue("drive")},
                              {flutter::EncodableValue("itemCount"), flutter::EncodableValue(1)},
                              {flutter::EncodableValue("totalBytes"), flutter::EncodableValue(6)}})}));
  });

  const Outcome outcome = Run({"clean", "drive_temp", "--drive", "D", "--yes"});

  EXPECT_EQ(outcome.status, kExitFailure) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: drive D: no longer shows " + scanned_.string() +
                                     " (it was changed while this command ran); nothing was deleted\n"));
  EXPECT_EQ(CallsOf("scanCleanableCategories"), 1u);
  EXPECT_EQ(CallsOf("performCleanup"), 0u);
}

// A scan saved with its folder is acted on through that folder later (browse --load); entries
// listed while the letter showed another folder would be taken for the saved folder's files.
TEST_F(RemappedLetterTest, AScanWhoseLetterChangedWhileItRanIsNotSaved) {
  WriteFakeWine(BridgeLine());
  ScanScript script;
  script.events = {StartedEvent("D:\\"), BatchEvent({FileEntry("D:\\keep.txt", 6)}, 1, 0, 6)};
  script.wait_for_cancel = true;
  script.events_after_cancel = {CancelledEvent()};
  host_.set_scan_script(script);
  const fs::path saved = folder_ / "scan.json";
  // The letter changes while the scan runs; then the person presses Ctrl-C.
  bool remapped = false;
  const auto interrupts = [&]() -> unsigned {
    if (!remapped && host_.awaiting_cancel()) {
      fs::remove(wine_root_ / "prefix" / "dosdevices" / "d:");
      fs::create_directory_symlink(canaries_, wine_root_ / "prefix" / "dosdevices" / "d:");
      remapped = true;
    }
    return remapped ? 1 : 0;
  };

  const Outcome outcome = Run({"scan", "D", "--save", saved.string()}, interrupts);

  EXPECT_EQ(outcome.status, kExitFailure) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: drive D: no longer shows " + scanned_.string() +
                                     " (it was changed while this command ran); the scan was not saved\n"));
  EXPECT_FALSE(fs::exists(saved));
}

// A running command's mark keeps other clients from taking its letter: map and unmap refuse it,
// and the end of another command's loan leaves it to the command that still uses it.
TEST_F(WinePlatformTest, MapAndUnmapLeaveALetterARunningCommandUsesAlone) {
  const fs::path photos = folder_ / "photos";
  const fs::path other = folder_ / "other";
  fs::create_directories(photos);
  fs::create_directories(other);
  const fs::path letter = wine_root_ / "prefix" / "dosdevices" / "d:";
  // Another client, as far as marks go: each mark is a lock of its own.
  WinePlatform running(Settings());
  std::ostringstream status;
  std::optional<DriveLetterLoan> lent(DriveLetterLoan::ForFolder(running, photos.string(), status));
  ASSERT_EQ(lent->letter(), 'D');
  ASSERT_TRUE(lent->mapped_for_loan());

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"map", "D", other.string()}, std::vector<std::string>{"unmap", "D"}}) {
    const Outcome refused = Run(arguments);
    EXPECT_EQ(refused.status, kExitUsage) << arguments[0];
    EXPECT_EQ(refused.err,
              "pelmora-cli: drive D: is in use by another pelmora-cli command that is running now (it reaches a "
              "folder through the letter); it can be changed once that command has ended\n");
  }
  EXPECT_EQ(fs::read_symlink(letter), photos);

  // A second command given the same folder uses D: as it is; the first one's end leaves it.
  std::optional<DriveLetterLoan> used(DriveLetterLoan::ForFolder(running, photos.string(), status));
  EXPECT_EQ(used->letter(), 'D');
  EXPECT_FALSE(used->mapped_for_loan());
  lent.reset();
  EXPECT_EQ(fs::read_symlink(letter), photos);
  EXPECT_EQ(Run({"map", "D", other.string()}).status, kExitUsage);
  used.reset();

  // Nobody uses it now; it stayed mapped, which unmap undoes.
  const Outcome unmapped = Run({"unmap", "D"});
  EXPECT_EQ(unmapped.status, kExitSuccess) << unmapped.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(letter)));
}

// A client killed while it used a letter leaves its lock file behind, but the lock went with the
// process, so the letter is free at once.
TEST_F(WinePlatformTest, AMarkLeftByAKilledClientHoldsNothing) {
  const fs::path photos = folder_ / "photos";
  const fs::path other = folder_ / "other";
  fs::create_directories(photos);
  fs::create_directories(other);
  ASSERT_EQ(Run({"map", "D", photos.string()}).status, kExitSuccess);
  // The mark a client makes (MarkDriveLetterInUse), made by a process of its own. The child runs
  // nothing but system calls, since this process has threads.
  fs::create_directories(wine_root_ / "drive-letters");
  const std::string lock = (wine_root_ / "drive-letters" / "d.lock").string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t client = ::fork();
  ASSERT_GE(client, 0);
  if (client == 0) {
    const int descriptor = ::open(lock.c_str(), O_RDWR | O_CREAT, 0644);
    if (descriptor < 0 || ::flock(descriptor, LOCK_SH) != 0 || ::write(ready[1], "m", 1) != 1) {
      ::_exit(1);
    }
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  const bool marked = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  if (marked) {
    const Outcome refused = Run({"map", "D", other.string()});
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_THAT(refused.err, HasSubstr("drive D: is in use by another pelmora-cli command"));
  }
  ::kill(client, SIGKILL);
  int wait_status = 0;
  ASSERT_EQ(::waitpid(client, &wait_status, 0), client);
  ASSERT_TRUE(marked) << "the stand-in client could not mark the letter";

  EXPECT_TRUE(fs::exists(lock));
  const Outcome mapped = Run({"map", "D", other.string()});
  EXPECT_EQ(mapped.status, kExitSuccess) << mapped.err;
  EXPECT_EQ(fs::read_symlink(wine_root_ / "prefix" / "dosdevices" / "d:"), other);
}

TEST(WinePlatformDefaultsTest, RootAndHostPaths) {
  EXPECT_EQ(DefaultHostPath("/src/build/release/cli"), "/src/build/windows/runner/pelmora.exe");
  EXPECT_EQ(DefaultHostPath(""), "");
  EXPECT_EQ(InstalledHostPath("/usr/local/bin"), "/usr/local/lib/pelmora/pelmora.exe");
  EXPECT_EQ(InstalledHostPath(""), "");
  const auto paths = [](const std::vector<HostCandidate>& candidates) {
    std::vector<std::string> listed;
    for (const HostCandidate& candidate : candidates) listed.push_back(candidate.path + " " + candidate.origin);
    return listed;
  };
  EXPECT_THAT(paths(DefaultHostCandidates("/opt/p/bin", nullptr)),
              ::testing::ElementsAre("/opt/p/bin/pelmora.exe beside the client",
                                     "/opt/p/lib/pelmora/pelmora.exe installed with the client",
                                     "/opt/windows/runner/pelmora.exe in the build the client belongs to"));
  EXPECT_THAT(paths(DefaultHostCandidates("/opt/p/bin", "")), ::testing::SizeIs(3));
  EXPECT_THAT(paths(DefaultHostCandidates("/opt/p/bin", "/h/pelmora.exe")),
              ::testing::ElementsAre("/h/pelmora.exe named by PELMORA_HOST"));
  EXPECT_THAT(paths(DefaultHostCandidates("", "/h/pelmora.exe")), ::testing::SizeIs(1));
  EXPECT_THAT(paths(DefaultHostCandidates("", nullptr)), ::testing::IsEmpty());
  {
    const ScopedVariable root("PELMORA_WINE_ROOT", nullptr);
    const ScopedVariable cache("XDG_CACHE_HOME", "/cache");
    EXPECT_EQ(DefaultWineRoot(), "/cache/pelmora/wine");
  }
  {
    const ScopedVariable root("PELMORA_WINE_ROOT", nullptr);
    const ScopedVariable cache("XDG_CACHE_HOME", nullptr);
    const ScopedVariable home("HOME", "/home/someone");
    EXPECT_EQ(DefaultWineRoot(), "/home/someone/.cache/pelmora/wine");
  }
  {
    const ScopedVariable root("PELMORA_WINE_ROOT", "/elsewhere");
    EXPECT_EQ(DefaultWineRoot(), "/elsewhere");
  }
}

}  // namespace
}  // namespace pel_mora::cli
