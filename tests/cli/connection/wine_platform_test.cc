// Starting the host under Wine and mapping drive letters, with a shell script in Wine's place:
// the launcher's environment, its wait for the bridge line, the close at the end and the
// report of a host that does not start, all without Wine or a host build.

#include "cli/connection/wine_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/commands/commands.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::BatchEvent;
using testing::CompletedEvent;
using testing::DriveRecord;
using testing::FakeBridgeHost;
using testing::FileEntry;
using testing::ScanScript;
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
  {
    const ScopedVariable display("DISPLAY", ":99");
    const ScopedVariable port("PELMORA_INTERFACE_PORT", "1");
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
  // The host runs from its own folder, and an existing prefix is used as it is.
  EXPECT_EQ(ReadFile(folder_ / "host.pwd"), host_path_.parent_path().string() + "\n");
  EXPECT_EQ(ReadFile(folder_ / "wine.log"), host_path_.string() + "\n");
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
  // The host records which folder its F: showed while it ran.
  WriteFakeWine("readlink \"$WINEPREFIX/dosdevices/f:\" > '" + (folder_ / "f-during-scan").string() + "'; " +
                BridgeLine());
  ScanScript script;
  script.events = {StartedEvent("F:\\"), BatchEvent({FileEntry("F:\\a.jpg", 2048)}, 1, 0, 2048),
                   CompletedEvent(1, 0, 2048, 10)};
  host_.set_scan_script(script);

  const Outcome outcome = Run({"scan", photos.string()});

  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("Drive F: shows " + photos.string() + " while this command runs\n"));
  EXPECT_THAT(outcome.out, HasSubstr("Scan of F:\\ completed"));
  EXPECT_EQ(ReadFile(folder_ / "f-during-scan"), photos.string() + "\n");
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
