// pelmora-cli against the real host: the client program runs as a subprocess, as a person runs
// it, and starts the Windows tree's pelmora.exe under Wine with its own launcher, in Wine
// settings below this build tree. Fixture folders of known content get drive letters through
// the client's "map". Every host start costs a second or two, so each test starts few.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kClientPath[] = PELMORA_CLI_PATH;
constexpr char kHostPath[] = PELMORA_HOST_PATH;
constexpr char kWineRoot[] = PELMORA_CLI_WINE_ROOT;
constexpr char kLargeFixturePath[] = PELMORA_CLI_LARGE_FIXTURE;

// The drive letters the fixtures get.
constexpr char kKnownLetter[] = "T";
constexpr char kLargeLetter[] = "U";
// Mapped only after a command has run, while that command's wineserver still runs.
constexpr char kLateLetter[] = "V";
// A fixture the clean command deletes from.
constexpr char kCleanLetter[] = "W";
// The large fixture: 30,000 files, each in a folder of its own. Opening a folder costs Wine far
// more than listing a file, so the walk lasts seconds, and a cancel sent once the first progress
// shows lands long before the walk ends.
constexpr int kLargeGroups = 100;
constexpr int kFoldersPerGroup = 300;
constexpr long kLargeFileCount = long{kLargeGroups} * kFoldersPerGroup;

std::string ReadFile(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, size_t size) {
  std::ofstream stream(path, std::ios::binary);
  const std::string bytes(size, 'x');
  stream << bytes;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// The test's own environment with `name` set to `value`.
std::vector<std::string> EnvironmentWith(const std::string& name, const std::string& value) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind(name + "=", 0) != 0) {
      environment.emplace_back(*entry);
    }
  }
  environment.push_back(name + "=" + value);
  return environment;
}

// Starts a program with standard input from /dev/null and its output into the two files;
// returns its id, or -1 after a test failure naming the reason.
pid_t Spawn(std::vector<std::string> arguments, std::vector<std::string> environment, const std::string& out_path,
            const std::string& err_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::vector<char*> argv = Pointers(arguments);
  const std::vector<char*> envp = Pointers(environment);
  pid_t pid = -1;
  const int result = posix_spawnp(&pid, arguments.front().c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    ADD_FAILURE() << "cannot start " << arguments.front() << ": " << std::strerror(result);
    return -1;
  }
  return pid;
}

// The wait status of a child that has ended.
int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Makes the large fixture at `root` unless an earlier run has: tens of thousands of new entries
// cost this kind of disk many seconds, so the tree is kept in the build tree and reused, the
// stamp beside it (not in it, where the scan would count it) saying it is complete. Plain system
// calls, since std::filesystem in a sanitized debug build is slow at this count.
void MakeLargeFixture(const fs::path& root) {
  const fs::path stamp = root.string() + ".complete";
  if (fs::exists(stamp)) {
    return;
  }
  const fs::path partial = root.string() + ".partial";
  fs::remove_all(partial);
  fs::remove_all(root);
  fs::create_directories(root.parent_path());
  ASSERT_EQ(::mkdir(partial.c_str(), 0755), 0) << std::strerror(errno);
  for (int group = 0; group < kLargeGroups; ++group) {
    const std::string group_path = partial.string() + "/group " + std::to_string(group);
    ASSERT_EQ(::mkdir(group_path.c_str(), 0755), 0) << std::strerror(errno);
    for (int folder = 0; folder < kFoldersPerGroup; ++folder) {
      const std::string folder_path = group_path + "/folder " + std::to_string(folder);
      ASSERT_EQ(::mkdir(folder_path.c_str(), 0755), 0) << std::strerror(errno);
      const int file = ::open((folder_path + "/file.dat").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      ASSERT_GE(file, 0) << std::strerror(errno);
      ::close(file);
    }
  }
  fs::rename(partial, root);
  std::ofstream(stamp).flush();
}

struct Outcome {
  // The exit code; nothing when the client was ended by a signal (`signal` says which).
  std::optional<int> exit_code;
  int signal = 0;
  std::string out;
  std::string err;
};

// One run of pelmora-cli with its output in files, so that a test can watch the progress while
// it runs. The environment is the test's own with the Wine root below the build tree.
class ClientProcess {
 public:
  ClientProcess(const std::vector<std::string>& arguments, const fs::path& output_folder)
      : out_path_(output_folder / "client.out"), err_path_(output_folder / "client.err") {
    std::vector<std::string> command = {kClientPath};
    command.insert(command.end(), arguments.begin(), arguments.end());
    pid_ = Spawn(command, EnvironmentWith("PELMORA_WINE_ROOT", kWineRoot), out_path_.string(), err_path_.string());
  }

  // A client still running when the test gives up is killed; its host follows it (the
  // launcher asks the kernel to end the host when the client dies).
  ~ClientProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  void Signal(int signal_number) const {
    if (pid_ > 0) {
      ::kill(pid_, signal_number);
    }
  }

  std::string ErrorOutputSoFar() const { return ReadFile(err_path_); }

  Outcome Wait() {
    Outcome outcome;
    if (pid_ > 0) {
      const int status = Reap(pid_);
      pid_ = -1;
      if (WIFEXITED(status)) {
        outcome.exit_code = WEXITSTATUS(status);
      } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
      }
    }
    outcome.out = ReadFile(out_path_);
    outcome.err = ReadFile(err_path_);
    return outcome;
  }

 private:
  fs::path out_path_;
  fs::path err_path_;
  pid_t pid_ = -1;
};

std::ostream& operator<<(std::ostream& stream, const Outcome& outcome) {
  if (outcome.exit_code) {
    stream << "exit code " << *outcome.exit_code;
  } else {
    stream << "ended by signal " << outcome.signal;
  }
  return stream << "\n--- standard output:\n" << outcome.out << "--- standard error:\n" << outcome.err;
}

class RealHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setup_error_.clear();
    if (!fs::is_regular_file(kHostPath)) {
      setup_error_ = std::string("the host ") + kHostPath +
                      " does not exist: build the Windows tree first (scripts/setup.sh builds every tree), or "
                      "configure this tree with -DPELMORA_HOST_EXECUTABLE=PATH";
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "pelmora-cli-real-host.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      setup_error_ = std::string("mkdtemp failed: ") + std::strerror(errno);
      return;
    }
    folder_ = fs::path(pattern);
    MakeKnownFixture(*folder_ / "known");
    // "map" also makes the Wine settings on their first use, so no later command reports that.
    const Outcome mapped = Run({"map", kKnownLetter, (*folder_ / "known").string()});
    if (mapped.exit_code != 0) {
      std::ostringstream text;
      text << "map failed: " << mapped;
      setup_error_ = text.str();
    }
  }

  static void TearDownTestSuite() {
    if (folder_) {
      // The letters pointed into the fixtures, which go now.
      for (const char* letter : {"t:", "u:", "v:", "w:"}) {
        std::error_code error;
        fs::remove(fs::path(kWineRoot) / "prefix" / "dosdevices" / letter, error);
      }
      std::error_code error;
      fs::remove_all(*folder_, error);
      folder_.reset();
    }
    StopWineserver();
  }

  void SetUp() override { ASSERT_THAT(setup_error_, IsEmpty()); }

  static Outcome Run(const std::vector<std::string>& arguments) {
    return ClientProcess(WithHost(arguments), *folder_).Wait();
  }

  // Every command names the host explicitly: the configured one, not whatever the client's own
  // location suggests.
  static std::vector<std::string> WithHost(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--host", kHostPath});
    return arguments;
  }

  // Sizes all different, so the order of the largest entries is fixed; a hidden file, an empty
  // one, an empty folder and a name beyond ASCII. The scan test spells out what it must print.
  static void MakeKnownFixture(const fs::path& root) {
    fs::create_directories(root / "photos" / "2023");
    fs::create_directories(root / "empty");
    WriteFile(root / "notes.txt", 1000);
    WriteFile(root / "photos" / "beach.jpg", 150000);
    WriteFile(root / "photos" / "F\xC3\xBC\xC3\x9F" "e.png", 20000);
    WriteFile(root / "photos" / "2023" / "old.jpg", 5000);
    WriteFile(root / ".hidden", 10);
    WriteFile(root / "zero.bin", 0);
    // A link to a folder is a reparse point to the host: neither followed nor counted.
    fs::create_directory_symlink(root / "photos", root / "link-to-photos");
  }

  // Stops the wineserver of the client's test prefix, so nothing of this run lingers.
  static void StopWineserver() {
    const pid_t pid = Spawn({"wineserver", "-k"}, EnvironmentWith("WINEPREFIX", std::string(kWineRoot) + "/prefix"),
                            "/dev/null", "/dev/null");
    if (pid > 0) {
      Reap(pid);
    }
  }

  // Why the suite cannot run, for every test to report; empty when it can.
  static inline std::string setup_error_;
  // The temporary folder of this run: the known fixture and the client's output files.
  static inline std::optional<fs::path> folder_;
};

TEST_F(RealHostTest, CallPrintsRepliesErrorsAndNotImplemented) {
  struct Case {
    std::vector<std::string> arguments;
    int exit_code;
    const char* out;  // a part of standard output
    const char* err;  // all of standard error
  };
  const Case cases[] = {
      {{"call", "getDrives"}, 0, "\"driveLetter\": \"T\"", ""},
      {{"call", "startScan", R"({"driveLetter": "1"})"}, 1, "", "error INVALID_ARGS: Invalid drive letter.\n"},
      {{"call", "nosuchMethod"}, 1, "", "pelmora-cli: the host does not implement \"nosuchMethod\" (empty response)\n"},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.exit_code, test_case.exit_code) << outcome;
    EXPECT_THAT(outcome.out, HasSubstr(test_case.out)) << outcome;
    EXPECT_EQ(outcome.err, test_case.err) << outcome;
  }
}

TEST_F(RealHostTest, SecretsOutliveTheHostThatStoredThemAndVerifyRejectsAnUnsignedFile) {
  // Each command starts and closes a host of its own, so the value travels between processes.
  const std::string key = "cli-real-host-test/token";
  struct Step {
    std::vector<std::string> arguments;
    int exit_code;
    const char* out;
    const char* err;
  };
  const Step steps[] = {
      {{"secret", "set", key, "v\xC3\xA4lue"}, 0, "Stored the secret cli-real-host-test/token\n", ""},
      {{"secret", "get", key}, 0, "v\xC3\xA4lue\n", ""},
      {{"secret", "rm", "--yes", key}, 0, "Removed the secret cli-real-host-test/token\n", ""},
      {{"secret", "get", key}, 1, "", "pelmora-cli: no secret stored under cli-real-host-test/token\n"},
  };
  for (const Step& step : steps) {
    const Outcome outcome = Run(step.arguments);
    EXPECT_EQ(outcome.exit_code, step.exit_code) << outcome;
    EXPECT_EQ(outcome.out, step.out) << outcome;
    EXPECT_EQ(outcome.err, step.err) << outcome;
  }

  const fs::path unsigned_file = *folder_ / "known" / "notes.txt";
  const Outcome verified = Run({"verify", unsigned_file.string()});
  EXPECT_EQ(verified.exit_code, 1) << verified;
  EXPECT_THAT(verified.out, HasSubstr(": no valid signature")) << verified;
}

TEST_F(RealHostTest, DrivesListsTheMappedFixture) {
  const Outcome outcome = Run({"drives"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome;
  EXPECT_THAT(outcome.out, StartsWith("Drive  Type   Label  File system"));
  EXPECT_THAT(outcome.out, HasSubstr("\nC:     Fixed"));
  EXPECT_THAT(outcome.out, HasSubstr("\nT:     "));
  EXPECT_THAT(outcome.err, IsEmpty());
}

TEST_F(RealHostTest, DrivesListsALetterMappedWhileTheWineserverOfAnEarlierCommandRuns) {
  // The wineserver, and with it Wine's list of drive letters, outlives this command.
  const Outcome earlier = Run({"call", "cancelScan"});
  ASSERT_EQ(earlier.exit_code, 0) << earlier;
  const Outcome mapped = Run({"map", kLateLetter, (*folder_ / "known").string()});
  ASSERT_EQ(mapped.exit_code, 0) << mapped;

  const Outcome scan = Run({"scan", kLateLetter});
  EXPECT_EQ(scan.exit_code, 0) << scan;
  const Outcome drives = Run({"drives"});
  EXPECT_EQ(drives.exit_code, 0) << drives;
  EXPECT_THAT(drives.out, HasSubstr(std::string("\n") + kLateLetter + ":     ")) << drives;
  const Outcome listed = Run({"call", "getDrives"});
  EXPECT_THAT(listed.out, HasSubstr(std::string("\"driveLetter\": \"") + kLateLetter + "\"")) << listed;
}

TEST_F(RealHostTest, ScanOfTheFixturePrintsItsTotalsAndLargestEntries) {
  const Outcome outcome = Run({"scan", kKnownLetter});
  ASSERT_EQ(outcome.exit_code, 0) << outcome;
  const std::string first_line = outcome.out.substr(0, outcome.out.find('\n') + 1);
  EXPECT_THAT(first_line, StartsWith("Scan of T:\\ completed in "));
  // Six files (the hidden and the empty one too), three folders; the link is not followed.
  EXPECT_EQ(outcome.out.substr(first_line.size()),
            "  Files:    6\n"
            "  Folders:  3\n"
            "  Size:     171.9 KiB (176,010 bytes)\n"
            "\n"
            "Largest folders:\n"
            "  170.9 KiB  T:\\photos\n"
            "    4.9 KiB  T:\\photos\\2023\n"
            "        0 B  T:\\empty\n"
            "\n"
            "Largest files:\n"
            "  146.5 KiB  T:\\photos\\beach.jpg\n"
            "   19.5 KiB  T:\\photos\\F\xC3\xBC\xC3\x9F" "e.png\n"
            "    4.9 KiB  T:\\photos\\2023\\old.jpg\n"
            "     1000 B  T:\\notes.txt\n"
            "       10 B  T:\\.hidden\n"
            "        0 B  T:\\zero.bin\n")
      << outcome;
}

// A Linux folder without a letter of its own is lent one for the command; the copies are found
// through the real walk and the system's SHA-256, and a file of the same size with other content
// is not one.
TEST_F(RealHostTest, DupesFindsTheCopiesBelowALinuxFolderThroughALentLetter) {
  const fs::path root = *folder_ / "dupes";
  fs::create_directories(root / "nested");
  WriteFile(root / "first.bin", 1000);
  WriteFile(root / "nested" / "second.bin", 1000);
  {
    std::ofstream other(root / "other.bin", std::ios::binary);
    other << std::string(1000, 'y');
  }

  const Outcome outcome = Run({"dupes", root.string()});
  ASSERT_EQ(outcome.exit_code, 0) << outcome;
  ASSERT_THAT(outcome.err, ::testing::MatchesRegex("Drive [D-Y]: shows .* while this command runs\n")) << outcome;
  const char letter = outcome.err[6];
  const std::string drive = std::string(1, letter) + ":";
  EXPECT_EQ(outcome.err, "Drive " + drive + " shows " + root.string() + " while this command runs\n");
  EXPECT_THAT(outcome.out, StartsWith("1 group of identical files below " + drive + "\\ (2 files)\n\n"
                                      "1000 B wasted: 2 copies of 1000 B\n")) << outcome;
  EXPECT_THAT(outcome.out, HasSubstr("  " + drive + "\\first.bin\n")) << outcome;
  EXPECT_THAT(outcome.out, HasSubstr("  " + drive + "\\nested\\second.bin\n")) << outcome;
  EXPECT_THAT(outcome.out, ::testing::EndsWith("\nCould be freed by keeping one copy of each: 1000 B (1,000 bytes)\n"))
      << outcome;
  const std::string link_name(1, static_cast<char>(letter - 'A' + 'a'));
  EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(kWineRoot) / "prefix" / "dosdevices" / (link_name + ":"))));
}

// A folder that has a letter already is scanned through it, exactly as the letter would be.
TEST_F(RealHostTest, ScanOfAMappedFolderUsesItsLetter) {
  const Outcome by_letter = Run({"scan", kKnownLetter});
  const Outcome by_folder = Run({"scan", (*folder_ / "known" / "photos" / "..").string()});
  ASSERT_EQ(by_folder.exit_code, 0) << by_folder;
  EXPECT_THAT(by_folder.err,
              StartsWith("Using drive T:, which shows " + (*folder_ / "known" / "photos" / "..").string() + "\n"));
  // Everything after the first line (which holds the duration) is the same.
  EXPECT_EQ(by_folder.out.substr(by_folder.out.find('\n')), by_letter.out.substr(by_letter.out.find('\n')));
  EXPECT_TRUE(fs::is_symlink(fs::path(kWineRoot) / "prefix" / "dosdevices" / "t:"));
}

TEST_F(RealHostTest, ScanWithReportWritesAPageOfTheFixture) {
  const fs::path report = *folder_ / "report.html";
  const Outcome outcome = Run({"scan", "--report", report.string(), kKnownLetter});
  ASSERT_EQ(outcome.exit_code, 0) << outcome;
  EXPECT_THAT(outcome.err, HasSubstr("Report written to " + report.string())) << outcome;
  std::ifstream file(report, std::ios::binary);
  const std::string html((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_THAT(html, HasSubstr("in <b>6</b> files and <b>3</b> folders"));
  EXPECT_THAT(html, HasSubstr("title=\"T:\\photos\\beach.jpg&#10;146.5 KiB\""));
  EXPECT_THAT(html, HasSubstr("title=\"T:\\photos\\F\xC3\xBC\xC3\x9F" "e.png&#10;19.5 KiB\""));
  EXPECT_THAT(html, HasSubstr("<td class=\"path\">.jpg</td><td class=\"path\">images</td><td class=\"num\">2</td>"));
  EXPECT_THAT(html, Not(HasSubstr("link-to-photos")));
}

// The saved scan is read here by nlohmann/json, not by the client's own loader: every entry of
// the fixture once, as the host sent it, and totals that match; then the report is made from the
// file alone, with a host that does not exist, so no host can have been asked.
TEST_F(RealHostTest, ScanSaveWritesEveryEntryOfTheFixtureAndReportReadsItWithoutAHost) {
  const fs::path saved = *folder_ / "known-scan.json";
  const auto before = std::chrono::system_clock::now();
  const Outcome outcome = Run({"scan", kKnownLetter, "--save", saved.string()});
  const auto after = std::chrono::system_clock::now();
  ASSERT_EQ(outcome.exit_code, 0) << outcome;
  EXPECT_THAT(outcome.err, HasSubstr("Scan saved to " + saved.string() + "\n")) << outcome;

  const nlohmann::json scan = nlohmann::json::parse(ReadFile(saved), nullptr, /*allow_exceptions=*/false);
  ASSERT_TRUE(scan.is_object()) << ReadFile(saved);
  EXPECT_EQ(scan.value("format", ""), "pelmora-scan");
  EXPECT_EQ(scan.value("version", 0), 1);
  EXPECT_EQ(scan.value("root", ""), "T:\\");
  // The folder the letter showed, so that a later browse of the file acts on these files only.
  EXPECT_EQ(scan.value("folder", ""), fs::canonical(*folder_ / "known").string());
  EXPECT_EQ(scan.value("state", ""), "completed");
  EXPECT_EQ(scan.value("totalFiles", -1), 6);
  EXPECT_EQ(scan.value("totalFolders", -1), 3);
  EXPECT_EQ(scan.value("totalBytes", -1), 176010);
  EXPECT_TRUE(scan.contains("durationMs") && scan["durationMs"].is_number_integer()) << scan.dump();
  const auto seconds = [](std::chrono::system_clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
  };
  const int64_t started_at = scan.value("startedAt", int64_t{0});
  EXPECT_GE(started_at, seconds(before));
  EXPECT_LE(started_at, seconds(after));

  // Path to (is a folder, size); a folder's size is all that is below it. The link is no entry.
  const std::map<std::string, std::pair<bool, int64_t>> expected = {
      {"T:\\.hidden", {false, 10}},
      {"T:\\empty", {true, 0}},
      {"T:\\notes.txt", {false, 1000}},
      {"T:\\photos", {true, 175000}},
      {"T:\\photos\\2023", {true, 5000}},
      {"T:\\photos\\2023\\old.jpg", {false, 5000}},
      {"T:\\photos\\beach.jpg", {false, 150000}},
      {"T:\\photos\\F\xC3\xBC\xC3\x9F" "e.png", {false, 20000}},
      {"T:\\zero.bin", {false, 0}},
  };
  std::map<std::string, std::pair<bool, int64_t>> entries;
  ASSERT_TRUE(scan.contains("entries") && scan["entries"].is_array()) << scan.dump();
  for (const nlohmann::json& entry : scan["entries"]) {
    const std::string path = entry.value("path", "");
    EXPECT_EQ(entry.value("name", ""), path.substr(path.rfind('\\') + 1)) << entry.dump();
    EXPECT_TRUE(entry.value("isAccessible", false)) << entry.dump();
    EXPECT_TRUE(entries.emplace(path, std::make_pair(entry.value("isDirectory", false),
                                                     entry.value("sizeBytes", int64_t{-1}))).second)
        << "listed twice: " << path;
  }
  EXPECT_EQ(entries, expected);

  const fs::path report = *folder_ / "saved-report.html";
  const Outcome reported = Run({"--host", (*folder_ / "nowhere" / "pelmora.exe").string(), "report", saved.string(),
                                report.string()});
  ASSERT_EQ(reported.exit_code, 0) << reported;
  EXPECT_THAT(reported.err, HasSubstr("Report written to " + report.string())) << reported;
  const std::string html = ReadFile(report);
  EXPECT_THAT(html, HasSubstr("in <b>6</b> files and <b>3</b> folders"));
  EXPECT_THAT(html, HasSubstr("title=\"T:\\photos\\beach.jpg&#10;146.5 KiB\""));
  EXPECT_THAT(html, HasSubstr("title=\"T:\\photos\\F\xC3\xBC\xC3\x9F" "e.png&#10;19.5 KiB\""));
}

TEST_F(RealHostTest, InterruptDuringAScanCancelsItAndShowsThePartialResult) {
  const fs::path large = kLargeFixturePath;
  MakeLargeFixture(large);
  if (HasFatalFailure()) {
    return;
  }
  const Outcome mapped = Run({"map", kLargeLetter, large.string()});
  ASSERT_EQ(mapped.exit_code, 0) << mapped;

  ClientProcess client(WithHost({"scan", kLargeLetter}), *folder_);
  // Standard error is a file, so progress comes as plain lines; the first one shows as soon as
  // the first entries arrive. That is the moment a person would press Ctrl-C.
  const std::regex progress(R"(Scanning U:\\  [0-9.]+ [KMGT]?i?B  [1-9][0-9,]* files)");
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  bool progress_seen = false;
  while (!progress_seen && std::chrono::steady_clock::now() < give_up) {
    progress_seen = std::regex_search(client.ErrorOutputSoFar(), progress);
    if (!progress_seen) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_TRUE(progress_seen) << "no progress line; standard error so far:\n" << client.ErrorOutputSoFar();
  client.Signal(SIGINT);
  const Outcome outcome = client.Wait();

  EXPECT_EQ(outcome.exit_code, 130) << outcome;
  EXPECT_THAT(outcome.err, HasSubstr("Cancelling U:\\  ")) << outcome;
  EXPECT_THAT(outcome.out, StartsWith("Scan of U:\\ cancelled after ")) << outcome;
  EXPECT_THAT(outcome.out, HasSubstr("; partial result\n")) << outcome;
  // Some of the files, not all of them.
  std::smatch files;
  ASSERT_TRUE(std::regex_search(outcome.out, files, std::regex(R"(\n  Files:    ([0-9,]+)\n)"))) << outcome;
  const std::string digits = std::regex_replace(files[1].str(), std::regex(","), "");
  const long counted = std::stol(digits);
  EXPECT_GT(counted, 0) << outcome;
  EXPECT_LT(counted, kLargeFileCount) << outcome;
}

TEST_F(RealHostTest, RecycleMovesAFileIntoTheClientsTrashAndBinEmptiesIt) {
  // The Recycle Bin of the host under Wine is the XDG trash of the client's Wine settings, which
  // this tree keeps below itself.
  const fs::path trash_files = fs::path(kWineRoot) / "home" / ".local" / "share" / "Trash" / "files";
  const std::string name = "recycled-" + folder_->filename().string() + ".txt";
  const fs::path file = *folder_ / name;
  WriteFile(file, 1234);

  const std::string missing = (*folder_ / "never-written.txt").string();
  const Outcome recycled = Run({"recycle", file.string(), "C:\\", "C:\\windows", missing});
  EXPECT_EQ(recycled.exit_code, 1) << recycled;
  EXPECT_EQ(recycled.out, "recycled      " + file.string() +
                              " (1.2 KiB)\n"
                              "not recycled  C:\\: a drive root, which is never recycled\n"
                              "not recycled  C:\\windows: the host refused it or could not recycle it (protected, "
                              "in use, or on a drive without a Recycle Bin)\n"
                              "not recycled  " + missing + ": no such file or folder\n"
                              "Recycled  1 path\nFailed    3 paths\nFreed     1.2 KiB\n")
      << recycled;
  EXPECT_THAT(recycled.err, HasSubstr("3 paths not recycled")) << recycled;
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::exists(trash_files / name));

  const Outcome emptied = Run({"bin", "--empty", "--yes"});
  EXPECT_EQ(emptied.exit_code, 0) << emptied;
  EXPECT_THAT(emptied.out, HasSubstr("Recycle Bin: 0 items, 0 B")) << emptied;
  EXPECT_FALSE(fs::exists(trash_files / name));
}

TEST_F(RealHostTest, CategoriesMeasuresADriveAndCleanDeletesOnlyWithYes) {
  const fs::path root = *folder_ / "clean";
  fs::create_directories(root / "Temp" / "sub");
  fs::create_directories(root / "found.000");
  WriteFile(root / "Temp" / "a.log", 100);
  WriteFile(root / "Temp" / "sub" / "b.log", 200);
  WriteFile(root / "setup.tmp", 50);
  WriteFile(root / "keep.txt", 10);
  WriteFile(root / "found.000" / "file0000.chk", 30);
  const Outcome mapped = Run({"map", kCleanLetter, root.string()});
  ASSERT_EQ(mapped.exit_code, 0) << mapped;

  const Outcome categories = Run({"categories", kCleanLetter});
  EXPECT_EQ(categories.exit_code, 0) << categories;
  EXPECT_TRUE(std::regex_search(categories.out, std::regex("\ndrive_temp +Drive Temporary Files +System +3 +350 B\n")))
      << categories;
  EXPECT_TRUE(
      std::regex_search(categories.out, std::regex("\nchkdsk_fragments +Chkdsk & Error Fragments +System +1 +30 B\n")))
      << categories;

  // Standard input is not a terminal here, so without --yes nothing may go.
  const Outcome refused = Run({"clean", "drive_temp", "--drive", kCleanLetter});
  EXPECT_EQ(refused.exit_code, 2) << refused;
  EXPECT_TRUE(fs::exists(root / "Temp" / "a.log"));

  const Outcome cleaned = Run({"clean", "drive_temp", "--drive", kCleanLetter, "--yes"});
  EXPECT_EQ(cleaned.exit_code, 0) << cleaned;
  EXPECT_TRUE(std::regex_search(cleaned.out, std::regex("\ndrive_temp +Drive Temporary Files +3 +350 B\n")))
      << cleaned;
  EXPECT_FALSE(fs::exists(root / "Temp" / "a.log"));
  EXPECT_FALSE(fs::exists(root / "Temp" / "sub"));
  EXPECT_FALSE(fs::exists(root / "setup.tmp"));
  EXPECT_TRUE(fs::exists(root / "Temp"));
  EXPECT_TRUE(fs::exists(root / "keep.txt"));
  EXPECT_TRUE(fs::exists(root / "found.000" / "file0000.chk"));
}

TEST_F(RealHostTest, BadCommandLinesAndAMissingHostFailWithStatusTwo) {
  const fs::path missing_host = *folder_ / "nowhere" / "pelmora.exe";
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const Case cases[] = {
      {{"call", "getDrives", R"({"a":)"},
       "pelmora-cli: bad JSON argument: expected a value, found end of input at line 1, column 6\n"},
      {{"frobnicate"}, "pelmora-cli: unknown command \"frobnicate\" (see pelmora-cli --help)\n"},
      {{"scan", "Q"},
       std::string("pelmora-cli: unknown drive Q: (the Wine settings in ") + kWineRoot +
           "/prefix have no drive Q:; give a folder that letter with: pelmora-cli map Q FOLDER)\n"},
      {{"categories", "Q"},
       std::string("pelmora-cli: unknown drive Q: (the Wine settings in ") + kWineRoot +
           "/prefix have no drive Q:; give a folder that letter with: pelmora-cli map Q FOLDER)\n"},
      {{"clean", "drive_temp", "--drive", "Q", "--yes"},
       std::string("pelmora-cli: unknown drive Q: (the Wine settings in ") + kWineRoot +
           "/prefix have no drive Q:; give a folder that letter with: pelmora-cli map Q FOLDER)\n"},
      {{"verify", (*folder_ / "absent.exe").string()},
       "pelmora-cli: no such file or folder: " + (*folder_ / "absent.exe").string() + "\n"},
      // A drive path is looked up below the folder its letter shows, as Wine does.
      {{"search", "Z:\\no-such-folder-here"}, "pelmora-cli: no such file or folder: Z:\\no-such-folder-here\n"},
      // The later --host wins over the one every run is given.
      {{"--host", missing_host.string(), "drives"},
       "pelmora-cli: the host " + missing_host.string() +
           " was not found; build it with scripts/setup.sh, name it with --host PATH or PELMORA_HOST, or use a "
           "running host with --port N\n"},
  };
  for (const Case& test_case : cases) {
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.exit_code, 2) << outcome;
    EXPECT_EQ(outcome.err, test_case.err) << outcome;
    EXPECT_THAT(outcome.out, IsEmpty()) << outcome;
  }
}

}  // namespace
