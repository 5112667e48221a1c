#include "plugin/search/file_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/file_search_cancel.h"
#include "plugin/find_handle.h"
#include "plugin/method_dispatcher.h"
#include "plugin/search/search_criteria.h"
#include "plugin/string_conversion.h"
#include "plugin/worker_thread.h"
#include "tests/plugin/recording_method_result.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using test_support::FixtureDrive;
using testing::CompletionKind;
using testing::RecordedReply;
using testing::RecordingResult;
using testing::ReplyRecord;

// Generous for a loaded machine: the fixture searches here take well under a second.
constexpr auto kWaitLimit = std::chrono::seconds(60);

EncodableValue Text(const std::wstring& text) { return EncodableValue(WideToUtf8(text)); }

// Sends one call through the dispatcher, whose search operation runs with `hooks`, on a real
// worker thread. The reply goes to `recording`, whose record a test may hand to its hooks first.
std::shared_ptr<ReplyRecord> Dispatch(const std::string& method,
                                      std::optional<EncodableMap> arguments,
                                      const SearchHooks& hooks = {},
                                      RecordingResult recording = RecordingResult()) {
  WorkerOperations operations;
  operations.search_files = [hooks](const SearchParameters& parameters) { return SearchFiles(parameters, hooks); };
  flutter::MethodCall<> call(method, arguments ? std::make_unique<EncodableValue>(std::move(*arguments)) : nullptr);
  HandleMethodCall(call, std::move(recording.result), nullptr, operations, LaunchDetachedThread);
  return recording.record;
}

// Waits for the one reply of a call and checks that no second one follows.
RecordedReply OnlyReply(ReplyRecord& record) {
  EXPECT_TRUE(record.WaitForCompletion()) << "no reply to the search";
  EXPECT_TRUE(record.WaitForRelease()) << "the search's result was never released";
  EXPECT_EQ(record.completion_count(), 1);
  return record.reply();
}

EncodableList SearchList(EncodableMap arguments, const SearchHooks& hooks = {}) {
  const auto record = Dispatch("searchFiles", std::move(arguments), hooks);
  const RecordedReply reply = OnlyReply(*record);
  EXPECT_EQ(reply.kind, CompletionKind::kSuccess) << reply.error_code << ": " << reply.error_message;
  const auto* list = std::get_if<EncodableList>(&reply.value);
  return list == nullptr ? EncodableList{} : *list;
}

std::string Field(const EncodableValue& entry, const char* key) {
  const auto& map = std::get<EncodableMap>(entry);
  return std::get<std::string>(map.at(EncodableValue(key)));
}

int64_t SizeOf(const EncodableValue& entry) {
  return std::get<EncodableMap>(entry).at(EncodableValue("sizeBytes")).LongValue();
}

// The paths of a reply, relative to `root` (for example "sub\a.txt"), in reply order.
std::vector<std::string> RelativePaths(const EncodableList& list, const FixtureDrive& drive) {
  const std::string root = WideToUtf8(drive.Root());
  std::vector<std::string> paths;
  for (const EncodableValue& entry : list) {
    std::string path = Field(entry, "path");
    EXPECT_EQ(path.rfind(root, 0), 0u) << path << " is not below " << root;
    paths.push_back(path.substr(std::min(root.size(), path.size())));
  }
  return paths;
}

std::vector<std::string> Sorted(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Holds every search thread that reaches the n-th folder opening or a later one, until released.
// Copies of the hook share the gate.
class FolderGate {
 public:
  explicit FolderGate(int hold_from_opening) : state_(std::make_shared<State>()) {
    state_->hold_from = hold_from_opening;
  }
  ~FolderGate() { Release(); }

  SearchHooks Hooks() const {
    SearchHooks hooks;
    hooks.before_listing_folder = [state = state_](std::wstring_view) {
      std::unique_lock lock(state->mutex);
      if (++state->openings < state->hold_from) {
        return;
      }
      state->held = true;
      state->changed.notify_all();
      state->changed.wait(lock, [&state] { return state->released; });
    };
    return hooks;
  }

  bool WaitUntilHeld() {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, kWaitLimit, [this] { return state_->held; });
  }

  void Release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int hold_from = 0;
    int openings = 0;
    bool held = false;
    bool released = false;
  };
  std::shared_ptr<State> state_;
};

// Runs /bin/sh on the Unix side inside `folder` and waits until the script has finished. Used
// for what Wine cannot make: names that differ only in case.
void RunUnixScript(const std::wstring& unix_folder, const std::wstring& script) {
  const std::wstring marker = unix_folder + L"/.script-done";
  test_support::StartUnixProgram(L"/bin/sh", {L"-c", L"cd \"$0\" && " + script + L" && touch \"$1\"", unix_folder,
                                              marker});
  const std::wstring windows_marker = test_support::WindowsPathOfUnixPath(marker);
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (GetFileAttributesW(windows_marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the Unix script did not finish: " + WideToUtf8(script));
    }
    Sleep(20);
  }
  DeleteFileW(windows_marker.c_str());
}

// --- What a match looks like, and which files match -----------------------------------------

TEST(SearchEntryTest, CarriesPathNameExtensionSizeTimeAndIsNeverAFolder) {
  FixtureDrive drive;
  drive.AddFolder(L"docs");
  drive.AddFile(L"docs\\Annual_REPORT_2023.Pdf", 1234);
  drive.AddFile(L"docs\\report_2022.pdf", 10);
  drive.AddFolder(L"docs\\Report 2023 folder");
  // 2023-11-14 22:13:20 UTC plus a fraction of a second, which is truncated.
  constexpr int64_t kSeconds = 1'700'000'000;
  drive.SetLastWriteTime(L"docs\\Annual_REPORT_2023.Pdf",
                         static_cast<uint64_t>(kSeconds + 11'644'473'600) * 10'000'000 + 9'999'999);

  const EncodableList list =
      SearchList({{EncodableValue("rootPath"), Text(drive.Root())}, {EncodableValue("query"), EncodableValue("Report 2023")}});

  ASSERT_EQ(list.size(), 1u);
  const EncodableMap expected{
      {EncodableValue("path"), Text(drive.PathOf(L"docs\\Annual_REPORT_2023.Pdf"))},
      {EncodableValue("name"), EncodableValue("Annual_REPORT_2023.Pdf")},
      {EncodableValue("extension"), EncodableValue("Pdf")},
      {EncodableValue("sizeBytes"), EncodableValue(int64_t{1234})},
      {EncodableValue("modifiedTime"), EncodableValue(kSeconds)},
      {EncodableValue("isDirectory"), EncodableValue(false)},
  };
  EXPECT_EQ(list[0], EncodableValue(expected));
}

struct CriteriaCase {
  const char* description;
  const char* query;
  const char* extension;
  int64_t min_size;
  int64_t max_size;
  std::vector<std::string> expected;
};

void PrintTo(const CriteriaCase& test, std::ostream* stream) { *stream << test.description; }

class SearchCriteriaOnTreeTest : public ::testing::TestWithParam<CriteriaCase> {
 protected:
  static void SetUpTestSuite() {
    drive_ = new FixtureDrive();
    drive_->AddFile(L"a.txt", 10);
    drive_->AddFile(L"b.TXT", 100);
    drive_->AddFile(L".hidden.gif", 7);
    drive_->AddFile(L".gif", 7);
    drive_->AddFolder(L"sub");
    drive_->AddFile(L"sub\\Annual_REPORT_2023.pdf", 2000);
    drive_->AddFile(L"sub\\report_2022.pdf", 3000);
    drive_->AddFolder(L"sub\\deeper");
    drive_->AddFile(L"sub\\deeper\\photo.JPG", 50000);
    drive_->AddFile(L"sub\\deeper\\noext", 5);
  }
  static void TearDownTestSuite() {
    delete drive_;
    drive_ = nullptr;
  }
  static FixtureDrive* drive_;
};

FixtureDrive* SearchCriteriaOnTreeTest::drive_ = nullptr;

TEST_P(SearchCriteriaOnTreeTest, FindsExactlyTheMatchingFilesInEveryFolder) {
  const CriteriaCase& test = GetParam();
  EncodableMap arguments{{EncodableValue("rootPath"), Text(drive_->Root())},
                         {EncodableValue("query"), EncodableValue(test.query)},
                         {EncodableValue("extension"), EncodableValue(test.extension)},
                         {EncodableValue("minSize"), EncodableValue(test.min_size)},
                         {EncodableValue("maxSize"), EncodableValue(test.max_size)}};
  EXPECT_EQ(Sorted(RelativePaths(SearchList(std::move(arguments)), *drive_)), test.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Criteria,
    SearchCriteriaOnTreeTest,
    ::testing::Values(
        CriteriaCase{"everything",
                     "", "", 0, 0,
                     {".gif", ".hidden.gif", "a.txt", "b.TXT", "sub\\Annual_REPORT_2023.pdf", "sub\\deeper\\noext",
                      "sub\\deeper\\photo.JPG", "sub\\report_2022.pdf"}},
        CriteriaCase{"every word", "Report 2023", "", 0, 0, {"sub\\Annual_REPORT_2023.pdf"}},
        CriteriaCase{"a wildcard query is a substring", "*.pdf", "", 0, 0,
                     {"sub\\Annual_REPORT_2023.pdf", "sub\\report_2022.pdf"}},
        // The name ".gif" has no extension: its only dot is its first character.
        CriteriaCase{"an extension list", "", ".JPG, png;*.gif", 0, 0, {".hidden.gif", "sub\\deeper\\photo.JPG"}},
        CriteriaCase{"inclusive size bounds with extensions", "", "txt|pdf", 100, 3000,
                     {"b.TXT", "sub\\Annual_REPORT_2023.pdf", "sub\\report_2022.pdf"}},
        // With a word the result is in discovery order and not limited to the largest.
        CriteriaCase{"a minimum size with a word", "o", "", 2000, 0,
                     {"sub\\Annual_REPORT_2023.pdf", "sub\\deeper\\photo.JPG", "sub\\report_2022.pdf"}},
        CriteriaCase{"nothing matches", "absent", "", 0, 0, {}}));

// --- The largest-files mode -------------------------------------------------------------------

struct LargestCase {
  const char* description;
  int64_t later_file_size;
  int32_t max_results;
  std::vector<std::string> expected;
};

void PrintTo(const LargestCase& test, std::ostream* stream) { *stream << test.description; }

class LargestFilesTest : public ::testing::TestWithParam<LargestCase> {};

// The root's files are all recorded before any subfolder is listed (subfolders are queued when
// their parent is done), so "sub\d" is always the later file.
TEST_P(LargestFilesTest, KeepsTheLargestSortedAndAnEqualLaterFileDoesNotDisplace) {
  const LargestCase& test = GetParam();
  FixtureDrive drive;
  drive.AddFile(L"a", 50);
  drive.AddFile(L"b", 40);
  drive.AddFile(L"c", 30);
  drive.AddFile(L"small", 5);
  drive.AddFolder(L"sub");
  drive.AddFile(L"sub\\d", static_cast<uint64_t>(test.later_file_size));

  const EncodableList list = SearchList({{EncodableValue("rootPath"), Text(drive.Root())},
                                         {EncodableValue("minSize"), EncodableValue(10)},
                                         {EncodableValue("maxResults"), EncodableValue(test.max_results)}});
  EXPECT_EQ(RelativePaths(list, drive), test.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Limits,
    LargestFilesTest,
    ::testing::Values(LargestCase{"an equal size does not displace", 30, 3, {"a", "b", "c"}},
                      LargestCase{"a larger size displaces the smallest", 31, 3, {"a", "b", "sub\\d"}},
                      LargestCase{"the largest comes first", 60, 2, {"sub\\d", "a"}},
                      LargestCase{"equal sizes below the limit go by path", 30, 10, {"a", "b", "c", "sub\\d"}}));

// --- The result limit -------------------------------------------------------------------------

struct LimitCase {
  const char* description;
  std::optional<EncodableValue> max_results;
  int64_t min_size;
  size_t expected_count;
};

void PrintTo(const LimitCase& test, std::ostream* stream) { *stream << test.description; }

class ResultLimitTest : public ::testing::TestWithParam<LimitCase> {
 public:
  static constexpr int kFileCount = 520;

 protected:

  static void SetUpTestSuite() {
    drive_ = new FixtureDrive();
    for (int index = 1; index <= kFileCount; ++index) {
      drive_->AddFile(L"file" + std::to_wstring(index), static_cast<uint64_t>(index));
    }
  }
  static void TearDownTestSuite() {
    delete drive_;
    drive_ = nullptr;
  }
  static FixtureDrive* drive_;
};

FixtureDrive* ResultLimitTest::drive_ = nullptr;

// All files lie in one folder, which one thread lists, so an ordinary search stops exactly at
// the limit.
TEST_P(ResultLimitTest, DefaultsTo500) {
  const LimitCase& test = GetParam();
  EncodableMap arguments{{EncodableValue("rootPath"), Text(drive_->Root())},
                         {EncodableValue("minSize"), EncodableValue(test.min_size)}};
  if (test.max_results) {
    arguments[EncodableValue("maxResults")] = *test.max_results;
  }
  const EncodableList list = SearchList(std::move(arguments));
  ASSERT_EQ(list.size(), test.expected_count);
  if (test.min_size >= 1) {
    // The largest files, largest first.
    for (size_t index = 0; index < list.size(); ++index) {
      EXPECT_EQ(SizeOf(list[index]), kFileCount - static_cast<int64_t>(index));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits,
    ResultLimitTest,
    ::testing::Values(LimitCase{"absent", std::nullopt, 0, 500},
                      LimitCase{"zero", EncodableValue(0), 0, 500},
                      LimitCase{"negative", EncodableValue(-3), 0, 500},
                      LimitCase{"a double is ignored", EncodableValue(7.0), 0, 500},
                      LimitCase{"small", EncodableValue(7), 0, 7},
                      LimitCase{"above the file count", EncodableValue(600), 0, ResultLimitTest::kFileCount},
                      LimitCase{"64 bits use the low 32", EncodableValue((int64_t{1} << 32) + 7), 0, 7},
                      LimitCase{"largest files, absent", std::nullopt, 1, 500},
                      LimitCase{"largest files, small", EncodableValue(int64_t{3}), 1, 3}));

// --- Excluded names and paths, links, the root ------------------------------------------------

TEST(SearchExclusionTest, SkipsSystemAndToolFoldersLinksAndExcludedNames) {
  FixtureDrive drive;
  drive.AddFile(L".hidden.txt");
  drive.AddFile(L"node_modules");
  drive.AddFolder(L"keep");
  drive.AddFile(L"keep\\a.txt");
  for (const wchar_t* folder : {L"Node_Modules2", L".GIT", L"$Recycle.Bin", L"SYSTEM VOLUME INFORMATION",
                                L"package cache", L"Windows", L"Windows\\WinSxS", L"Windows\\winsxsbackup",
                                L"Windows\\System32", L"Users", L"Users\\me", L"Users\\me\\AppData",
                                L"Users\\me\\AppData\\Local", L"Users\\me\\AppData\\Local\\Packages",
                                L"Users\\me\\AppData\\Local\\Temp"}) {
    drive.AddFolder(folder);
    drive.AddFile(std::wstring(folder) + L"\\inside.txt");
  }
  drive.AddFolder(L"keep\\node_modules");
  drive.AddFile(L"keep\\node_modules\\deep.txt");
  // A link to a folder is not followed, so "keep\a.txt" is found once.
  drive.AddUnixSymlink(L"link", L"keep");

  const EncodableList list = SearchList({{EncodableValue("rootPath"), Text(drive.Root())}});

  EXPECT_EQ(Sorted(RelativePaths(list, drive)),
            (std::vector<std::string>{".hidden.txt", "Node_Modules2\\inside.txt", "Users\\inside.txt",
                                      "Users\\me\\AppData\\Local\\Temp\\inside.txt",
                                      "Users\\me\\AppData\\Local\\inside.txt", "Users\\me\\AppData\\inside.txt",
                                      "Users\\me\\inside.txt", "Windows\\System32\\inside.txt", "Windows\\inside.txt",
                                      "keep\\a.txt"}));
}

struct RootCase {
  const char* description;
  // Appended to the drive letter, for example L":\\plain".
  const wchar_t* root_after_letter;
  std::vector<std::string> expected;
};

void PrintTo(const RootCase& test, std::ostream* stream) { *stream << test.description; }

class SearchRootTest : public ::testing::TestWithParam<RootCase> {
 protected:
  static void SetUpTestSuite() {
    drive_ = new FixtureDrive();
    for (const wchar_t* folder : {L"node_modules", L"node_modules\\inner", L"Windows", L"Windows\\WinSxS",
                                  L"Windows\\WinSxS\\sub", L"plain", L"plain\\deep"}) {
      drive_->AddFolder(folder);
    }
    for (const wchar_t* file : {L"node_modules\\n.txt", L"node_modules\\inner\\m.txt", L"Windows\\WinSxS\\w.txt",
                                L"Windows\\WinSxS\\sub\\x.txt", L"plain\\p.txt", L"plain\\deep\\q.txt"}) {
      drive_->AddFile(file);
    }
  }
  static void TearDownTestSuite() {
    delete drive_;
    drive_ = nullptr;
  }
  static FixtureDrive* drive_;
};

FixtureDrive* SearchRootTest::drive_ = nullptr;

TEST_P(SearchRootTest, IsNeverTestedAgainstTheExclusions) {
  const RootCase& test = GetParam();
  const std::wstring root = std::wstring(1, drive_->Letter()) + test.root_after_letter;
  EXPECT_EQ(Sorted(RelativePaths(SearchList({{EncodableValue("rootPath"), Text(root)}}), *drive_)), test.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Roots,
    SearchRootTest,
    ::testing::Values(
        RootCase{"the drive", L":\\", {"plain\\deep\\q.txt", "plain\\p.txt"}},
        RootCase{"the drive without a separator", L":", {"plain\\deep\\q.txt", "plain\\p.txt"}},
        RootCase{"an excluded name", L":\\node_modules", {"node_modules\\inner\\m.txt", "node_modules\\n.txt"}},
        RootCase{"an excluded path lists its own files only", L":\\Windows\\WinSxS", {"Windows\\WinSxS\\w.txt"}},
        RootCase{"slashes and doubled separators", L":/plain//", {"plain\\deep\\q.txt", "plain\\p.txt"}},
        RootCase{"a folder that does not exist", L":\\absent", {}}));

TEST(SearchDefaultRootTest, AnAbsentOrEmptyRootSearchesDriveC) {
  for (const std::optional<std::string> root : {std::optional<std::string>(), std::optional<std::string>("")}) {
    EncodableMap arguments{{EncodableValue("maxResults"), EncodableValue(3)}};
    if (root) {
      arguments[EncodableValue("rootPath")] = EncodableValue(*root);
    }
    const EncodableList list = SearchList(std::move(arguments));
    EXPECT_FALSE(list.empty());
    for (const EncodableValue& entry : list) {
      EXPECT_EQ(Field(entry, "path").rfind("C:\\", 0), 0u) << Field(entry, "path");
    }
  }
}

// Wine lists a Unix folder's names as they are, so two names that differ only in case are two
// files, as in a case-sensitive folder of Windows. None may be dropped for the other, and none
// may be listed twice, even with a root spelled with a slash and a doubled separator.
TEST(SearchDuplicateTest, EveryFileIsListedOnceAndNamesThatDifferInCaseAreAllListed) {
  FixtureDrive drive;
  RunUnixScript(drive.UnixFolder(),
                L"mkdir Dir dir && touch Dir/a.bin dir/a.bin Q.txt q.txt && mkdir dup && touch dup/Note.txt "
                L"dup/NOTE.TXT");
  WIN32_FIND_DATAW data;
  int listed = 0;
  const std::wstring pattern = drive.PathOf(L"dup\\*");
  const FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  ASSERT_TRUE(find.IsValid());
  do {
    listed += data.cFileName[0] != L'.' ? 1 : 0;
  } while (FindNextFileW(find.Get(), &data));
  ASSERT_EQ(listed, 2) << "Wine no longer shows both spellings; this fixture shows nothing then";

  for (const std::wstring& root : {drive.Root(), std::wstring(1, drive.Letter()) + L":/\\"}) {
    SCOPED_TRACE(WideToUtf8(root));
    const EncodableList list = SearchList({{EncodableValue("rootPath"), Text(root)}});
    EXPECT_EQ(Sorted(RelativePaths(list, drive)),
              (std::vector<std::string>{"Dir\\a.bin", "Q.txt", "dir\\a.bin", "dup\\NOTE.TXT", "dup\\Note.txt",
                                        "q.txt"}));
  }
}

// --- Cancellation -----------------------------------------------------------------------------

class SearchCancelTest : public ::testing::Test {
 protected:
  static constexpr int kFolderCount = 60;
  static constexpr int kFilesPerFolder = 8;
  static constexpr int kRootFiles = 4;
  static constexpr size_t kAllFiles = kRootFiles + kFolderCount * kFilesPerFolder;

  static void SetUpTestSuite() {
    drive_ = new FixtureDrive();
    for (int file = 0; file < kRootFiles; ++file) {
      drive_->AddFile(L"root" + std::to_wstring(file) + L".dat");
    }
    for (int folder = 0; folder < kFolderCount; ++folder) {
      const std::wstring name = L"folder" + std::to_wstring(folder);
      drive_->AddFolder(name);
      for (int file = 0; file < kFilesPerFolder; ++file) {
        drive_->AddFile(name + L"\\file" + std::to_wstring(file) + L".dat");
      }
    }
  }
  static void TearDownTestSuite() {
    delete drive_;
    drive_ = nullptr;
  }

  static EncodableMap Arguments() {
    return {{EncodableValue("rootPath"), Text(drive_->Root())}, {EncodableValue("maxResults"), EncodableValue(5000)}};
  }

  static FixtureDrive* drive_;
};

FixtureDrive* SearchCancelTest::drive_ = nullptr;

TEST_F(SearchCancelTest, ACancelDuringASearchAnswersSuccessWithThePartialList) {
  // The root is listed in full before any of its subfolders is opened; holding the fifth opening
  // leaves most of the tree unlisted.
  FolderGate gate(5);
  const auto search = Dispatch("searchFiles", Arguments(), gate.Hooks());
  ASSERT_TRUE(gate.WaitUntilHeld()) << "the search never reached its fifth folder";

  const auto cancel = Dispatch("cancelSearch", std::nullopt);
  ASSERT_EQ(cancel->completion_count(), 1);
  EXPECT_EQ(cancel->reply().value, EncodableValue(true));
  gate.Release();

  const RecordedReply reply = OnlyReply(*search);
  ASSERT_EQ(reply.kind, CompletionKind::kSuccess);
  const auto paths = RelativePaths(std::get<EncodableList>(reply.value), *drive_);
  EXPECT_LT(paths.size(), kAllFiles);
  for (int file = 0; file < kRootFiles; ++file) {
    const std::string name = "root" + std::to_string(file) + ".dat";
    EXPECT_NE(std::find(paths.begin(), paths.end(), name), paths.end()) << name;
  }
}

TEST_F(SearchCancelTest, ACancelWithNoSearchRunningDoesNotStopTheNextOne) {
  const auto cancel = Dispatch("cancelSearch", std::nullopt);
  ASSERT_EQ(cancel->completion_count(), 1);
  EXPECT_EQ(cancel->reply().value, EncodableValue(true));

  EXPECT_EQ(SearchList(Arguments()).size(), kAllFiles);
  EXPECT_FALSE(g_search_cancel_requested.load());
}

// --- Failures -----------------------------------------------------------------------------------

struct FailureCase {
  const char* description;
  // The folder opening (from 1) that fails, or 0 for none.
  int failing_opening;
  // The search thread (from 0) that cannot be started, or -1 for none.
  int failing_thread;
  // Whether another thread can be listing a folder when the failure comes: then it is made to.
  bool another_listing_runs;
};

void PrintTo(const FailureCase& test, std::ostream* stream) { *stream << test.description; }

// The folder listings of a failing search, watched through its hooks: how many are under way,
// and how many ended after the search had replied. When asked, listings that start after the
// failing point are held until the failure comes and then take a while more, as on a slow disk,
// and the failure waits until one of them is held: a search that replied without waiting for its
// threads would reply while that listing is under way.
class FailureWatch {
 public:
  FailureWatch(const FailureCase& test, std::shared_ptr<ReplyRecord> record)
      : state_(std::make_shared<State>()) {
    state_->test = test;
    state_->record = std::move(record);
  }

  SearchHooks Hooks() const {
    SearchHooks hooks;
    hooks.before_listing_folder = [state = state_](std::wstring_view) {
      std::unique_lock lock(state->mutex);
      const int opening = ++state->openings;
      if (opening == state->test.failing_opening) {
        state->Fail(lock);
        throw std::runtime_error("the folder could not be listed");
      }
      const bool hold = state->test.another_listing_runs && opening > state->test.failing_opening;
      ++state->in_progress;
      if (hold) {
        ++state->held;
        state->changed.notify_all();
        state->changed.wait(lock, [&state] { return state->failed; });
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        lock.lock();
      }
      // The listing itself comes after the hook; the thread's next step is to see the stop.
      if (state->record->completion_count() > 0) {
        ++state->ended_after_reply;
      }
      --state->in_progress;
      state->changed.notify_all();
    };
    hooks.before_starting_thread = [state = state_](int thread_number) {
      if (thread_number == state->test.failing_thread) {
        std::unique_lock lock(state->mutex);
        state->Fail(lock);
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "no thread");
      }
    };
    return hooks;
  }

  // Waits until no listing is under way any more; only a search that replied too early makes
  // this wait at all.
  bool WaitUntilNoListing() {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, kWaitLimit, [this] { return state_->in_progress == 0; });
  }

  int held() const {
    std::lock_guard lock(state_->mutex);
    return state_->held;
  }

  int ended_after_reply() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended_after_reply;
  }

 private:
  struct State {
    // Raises the failure, once another listing is held when one can be.
    void Fail(std::unique_lock<std::mutex>& lock) {
      if (test.another_listing_runs) {
        changed.wait(lock, [this] { return held > 0; });
      }
      failed = true;
      changed.notify_all();
    }

    FailureCase test{};
    std::shared_ptr<ReplyRecord> record;
    std::mutex mutex;
    std::condition_variable changed;
    int openings = 0;
    int in_progress = 0;
    int held = 0;
    int ended_after_reply = 0;
    bool failed = false;
  };
  std::shared_ptr<State> state_;
};

class SearchFailureTest : public SearchCancelTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SearchFailureTest, AnswersSearchErrorOnceAndStopsEveryThread) {
  const FailureCase& test = GetParam();
  RecordingResult recording;
  FailureWatch watch(test, recording.record);

  const auto search = Dispatch("searchFiles", Arguments(), watch.Hooks(), std::move(recording));

  // The reply comes only after every started thread has been joined.
  const RecordedReply reply = OnlyReply(*search);
  EXPECT_EQ(reply.kind, CompletionKind::kError);
  EXPECT_EQ(reply.error_code, "SEARCH_ERROR");
  EXPECT_EQ(reply.error_message, "Search failed.");
  EXPECT_FALSE(reply.has_error_details);
  ASSERT_TRUE(watch.WaitUntilNoListing()) << "a folder listing never ended";
  EXPECT_EQ(watch.ended_after_reply(), 0) << "a search thread was still listing a folder when the search replied";
  if (test.another_listing_runs) {
    EXPECT_GT(watch.held(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures,
    SearchFailureTest,
    ::testing::Values(FailureCase{"the root cannot be listed", 1, -1, false},
                      FailureCase{"a folder fails while others are listed", 7, -1, true},
                      FailureCase{"the first thread cannot be started", 0, 0, false},
                      FailureCase{"a thread cannot be started once one runs", 0, 1, true},
                      FailureCase{"the last thread cannot be started", 0, SearchThreadCount() - 1, true}));

}  // namespace
}  // namespace pel_mora
