#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/file_search_cancel.h"
#include "plugin/method_dispatcher.h"
#include "plugin/worker_thread.h"
#include "tests/plugin/recording_method_result.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::CompletionKind;
using testing::RecordedReply;
using testing::RecordingResult;
using testing::RecordingScanner;
using testing::ReplyRecord;

// A call's argument value; std::nullopt is a call that carries no arguments value at all.
using Arguments = std::optional<EncodableValue>;

EncodableValue Text(const char* text) {
  return EncodableValue(std::string(text));
}

EncodableValue Int32(int32_t number) {
  return EncodableValue(number);
}

EncodableValue Int64(int64_t number) {
  return EncodableValue(number);
}

EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) {
    map[Text(key)] = value;
  }
  return EncodableValue(std::move(map));
}

EncodableValue List(std::initializer_list<EncodableValue> entries) {
  return EncodableValue(EncodableList(entries));
}

std::unique_ptr<flutter::MethodCall<>> MakeCall(const std::string& method, const Arguments& arguments) {
  return std::make_unique<flutter::MethodCall<>>(
      method, arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr);
}

// Every operation does the same thing, whatever its arguments.
WorkerOperations OperationsAllDoing(const std::function<WorkerReply()>& body) {
  const auto any_arguments = [body](const auto&...) { return body(); };
  WorkerOperations operations;
  operations.get_drives = any_arguments;
  operations.scan_cleanable_categories = any_arguments;
  operations.perform_cleanup = any_arguments;
  operations.recycle_paths = any_arguments;
  operations.get_recycle_bin_info = any_arguments;
  operations.empty_recycle_bin = any_arguments;
  operations.get_installed_apps = any_arguments;
  operations.launch_uninstaller = any_arguments;
  operations.start_duplicate_scan = any_arguments;
  operations.search_files = any_arguments;
  operations.open_in_explorer = any_arguments;
  operations.open_file = any_arguments;
  operations.pick_folder = any_arguments;
  operations.verify_authenticode = any_arguments;
  operations.get_system_metrics = any_arguments;
  operations.secure_write = any_arguments;
  operations.secure_read = any_arguments;
  operations.secure_delete = any_arguments;
  return operations;
}

constexpr char kSecretText[] = "secret detail C:\\Users\\victim";

WorkerReply ThrowSecret() {
  throw std::runtime_error(kSecretText);
}

void FailToStartThread(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "no thread");
}

// The dispatcher with stand-in operations (tests must never reach the real system) and a
// launcher that runs the worker's task on the calling thread, so replies can be read at once.
class DispatcherTest : public ::testing::Test {
 protected:
  std::shared_ptr<ReplyRecord> Dispatch(const std::string& method, const Arguments& arguments = std::nullopt) {
    RecordingResult recording;
    const auto call = MakeCall(method, arguments);
    HandleMethodCall(*call, std::move(recording.result), scanner_, operations_, launcher_);
    return recording.record;
  }

  static void ExpectSuccess(const ReplyRecord& record, const EncodableValue& expected) {
    ASSERT_EQ(record.completion_count(), 1);
    const RecordedReply reply = record.reply();
    EXPECT_EQ(reply.kind, CompletionKind::kSuccess);
    EXPECT_EQ(reply.value, expected);
  }

  static void ExpectError(const ReplyRecord& record, const std::string& code, const std::string& message) {
    ASSERT_EQ(record.completion_count(), 1);
    const RecordedReply reply = record.reply();
    EXPECT_EQ(reply.kind, CompletionKind::kError);
    EXPECT_EQ(reply.error_code, code);
    EXPECT_EQ(reply.error_message, message);
    EXPECT_FALSE(reply.has_error_details);
  }

  WorkerOperations operations_ = OperationsAllDoing([] { return WorkerReply(NotImplementedReply{}); });
  RecordingScanner scanner_object_;
  ScanControl* scanner_ = &scanner_object_;
  int launches_ = 0;
  ThreadLauncher launcher_ = [this](std::function<void()> task) {
    ++launches_;
    task();
  };
};

// --- Argument validation -------------------------------------------------------------------

struct InvalidArgumentsCase {
  const char* method;
  Arguments arguments;
  const char* message;
};

void PrintTo(const InvalidArgumentsCase& test_case, std::ostream* stream) {
  *stream << test_case.method << " -> \"" << test_case.message << '"';
}

class InvalidArgumentsTest : public DispatcherTest, public ::testing::WithParamInterface<InvalidArgumentsCase> {};

// Answered on the calling thread before any work: no worker, no scan.
TEST_P(InvalidArgumentsTest, AnswersInvalidArgsAtOnceAndStartsNothing) {
  const InvalidArgumentsCase& test_case = GetParam();
  const auto record = Dispatch(test_case.method, test_case.arguments);
  ExpectError(*record, "INVALID_ARGS", test_case.message);
  EXPECT_EQ(launches_, 0);
  EXPECT_TRUE(scanner_object_.started_letters().empty());
}

const EncodableValue kNull;

INSTANTIATE_TEST_SUITE_P(
    MethodTable,
    InvalidArgumentsTest,
    ::testing::Values(
        InvalidArgumentsCase{"startScan", std::nullopt, "Expected a map argument."},
        InvalidArgumentsCase{"startScan", kNull, "Expected a map argument."},
        InvalidArgumentsCase{"startScan", Text("C"), "Expected a map argument."},
        InvalidArgumentsCase{"startScan", Map({}), "Missing 'driveLetter'."},
        InvalidArgumentsCase{"startScan", Map({{"drive", Text("C")}}), "Missing 'driveLetter'."},
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Int32(67)}}), "driveLetter must be a non-empty string."},
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Text("")}}), "driveLetter must be a non-empty string."},
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Text("1")}}), "Invalid drive letter."},
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Text(":\\")}}), "Invalid drive letter."},
        // A multi-byte character and a lone Latin-1 byte: bytes above 127 are never letters.
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Text("\xC3\x9C")}}), "Invalid drive letter."},
        InvalidArgumentsCase{"startScan", Map({{"driveLetter", Text("\xE1")}}), "Invalid drive letter."},

        InvalidArgumentsCase{"performCleanup", std::nullopt, "Expected map with 'categories'"},
        InvalidArgumentsCase{"performCleanup", List({Text("temp")}), "Expected map with 'categories'"},
        InvalidArgumentsCase{"performCleanup", Map({{"driveLetter", Text("C")}}), "Missing 'categories'"},
        InvalidArgumentsCase{"performCleanup", Map({{"categories", Text("temp")}}), "'categories' must be a list of strings"},
        InvalidArgumentsCase{"performCleanup", Map({{"categories", kNull}}), "'categories' must be a list of strings"},

        InvalidArgumentsCase{"recyclePaths", kNull, "Expected map with 'paths'"},
        InvalidArgumentsCase{"recyclePaths", Map({}), "Missing 'paths'"},
        InvalidArgumentsCase{"recyclePaths", Map({{"paths", Text("C:\\x")}}), "'paths' must be a list of strings"},

        InvalidArgumentsCase{"launchUninstaller", std::nullopt, "Expected map with 'command'"},
        InvalidArgumentsCase{"launchUninstaller", Map({}), "Missing 'command'"},
        InvalidArgumentsCase{"launchUninstaller", Map({{"command", Text("")}}), "Command is empty"},
        InvalidArgumentsCase{"launchUninstaller", Map({{"command", Int32(1)}}), "Command is empty"},

        InvalidArgumentsCase{"startDuplicateScan", Text("C:\\"), "Expected map with 'rootPath'"},
        InvalidArgumentsCase{"startDuplicateScan", Map({}), "Missing 'rootPath'"},
        InvalidArgumentsCase{"startDuplicateScan", Map({{"rootPath", Text("")}}), "rootPath is empty"},
        InvalidArgumentsCase{"startDuplicateScan", Map({{"rootPath", EncodableValue(true)}}), "rootPath is empty"},

        InvalidArgumentsCase{"searchFiles", std::nullopt, "Expected map with search parameters"},
        InvalidArgumentsCase{"searchFiles", List({}), "Expected map with search parameters"},

        InvalidArgumentsCase{"openInExplorer", std::nullopt, "Expected a map argument."},
        InvalidArgumentsCase{"openInExplorer", Map({}), "Missing 'path'."},
        InvalidArgumentsCase{"openInExplorer", Map({{"path", Text("")}}), "Path is empty."},
        InvalidArgumentsCase{"openInExplorer", Map({{"path", Int64(5)}}), "Path is empty."},

        InvalidArgumentsCase{"openFile", kNull, "Expected a map argument."},
        InvalidArgumentsCase{"openFile", Map({}), "Missing 'path'."},
        InvalidArgumentsCase{"openFile", Map({{"path", Text("")}}), "Path is empty."},
        InvalidArgumentsCase{"openFile", Map({{"path", List({Text("C:\\a")})}}), "Path is empty."},

        InvalidArgumentsCase{"verifyAuthenticode", std::nullopt, "Expected map with 'path'"},
        InvalidArgumentsCase{"verifyAuthenticode", Map({}), "Missing 'path'"},
        InvalidArgumentsCase{"verifyAuthenticode", Map({{"path", Text("")}}), "Path is empty"},
        InvalidArgumentsCase{"verifyAuthenticode", Map({{"path", Int32(0)}}), "Path is empty"},

        InvalidArgumentsCase{"secureWrite", std::nullopt, "Expected map"},
        InvalidArgumentsCase{"secureWrite", Map({{"key", Text("token")}}), "Missing key or value"},
        InvalidArgumentsCase{"secureWrite", Map({{"value", Text("secret")}}), "Missing key or value"},
        InvalidArgumentsCase{"secureWrite", Map({{"key", Text("token")}, {"value", Int32(7)}}), "Expected strings"},
        InvalidArgumentsCase{"secureWrite", Map({{"key", Int32(7)}, {"value", Text("secret")}}), "Expected strings"},

        InvalidArgumentsCase{"secureRead", Text("token"), "Expected map"},
        InvalidArgumentsCase{"secureRead", Map({}), "Missing key"},
        InvalidArgumentsCase{"secureRead", Map({{"key", kNull}}), "Expected string key"},

        InvalidArgumentsCase{"secureDelete", std::nullopt, "Expected map"},
        InvalidArgumentsCase{"secureDelete", Map({{"value", Text("x")}}), "Missing key"},
        InvalidArgumentsCase{"secureDelete", Map({{"key", Int64(1)}}), "Expected string key"}));

// --- Method names ----------------------------------------------------------------------------

TEST_F(DispatcherTest, NamesOutsideTheTableAreNotImplemented) {
  for (const char* name : {"", "getdrives", "GetDrives", "getDrives ", "startscan", "CANCELSEARCH", "unknownMethod"}) {
    SCOPED_TRACE(name);
    const auto record = Dispatch(name, Map({{"driveLetter", Text("C")}}));
    ASSERT_EQ(record->completion_count(), 1);
    EXPECT_EQ(record->reply().kind, CompletionKind::kNotImplemented);
  }
  EXPECT_EQ(launches_, 0);
  EXPECT_TRUE(scanner_object_.started_letters().empty());
  EXPECT_EQ(scanner_object_.cancel_count(), 0);
}

// --- Inline methods --------------------------------------------------------------------------

TEST_F(DispatcherTest, StartScanUpperCasesTheFirstByteAndStartsTheScanner) {
  ExpectSuccess(*Dispatch("startScan", Map({{"driveLetter", Text("c:\\")}})), EncodableValue(true));
  ExpectSuccess(*Dispatch("startScan", Map({{"driveLetter", Text("Z")}})), EncodableValue(true));
  EXPECT_EQ(scanner_object_.started_letters(), (std::vector<wchar_t>{L'C', L'Z'}));
  EXPECT_EQ(launches_, 0);
}

TEST_F(DispatcherTest, StartScanWithoutAScannerAnswersAnErrorInsteadOfTrue) {
  scanner_ = nullptr;
  ExpectError(*Dispatch("startScan", Map({{"driveLetter", Text("C")}})), "SCAN_ERROR", "Failed to start scan.");
}

TEST_F(DispatcherTest, StartScanWhoseScannerFailsToStartAnswersAnError) {
  RecordingScanner failing_scanner(RecordingScanner::StartBehaviour::kThrows);
  scanner_ = &failing_scanner;
  ExpectError(*Dispatch("startScan", Map({{"driveLetter", Text("D")}})), "SCAN_ERROR", "Failed to start scan.");
  EXPECT_EQ(failing_scanner.started_letters(), std::vector<wchar_t>{L'D'});
}

TEST_F(DispatcherTest, CancelScanAnswersTrueWithOrWithoutAScanner) {
  ExpectSuccess(*Dispatch("cancelScan"), EncodableValue(true));
  EXPECT_EQ(scanner_object_.cancel_count(), 1);
  EXPECT_TRUE(scanner_object_.started_letters().empty());

  scanner_ = nullptr;
  ExpectSuccess(*Dispatch("cancelScan", Text("ignored")), EncodableValue(true));
  EXPECT_EQ(launches_, 0);
}

TEST_F(DispatcherTest, CancelSearchSetsTheProcessWideFlagAndAnswersTrue) {
  g_search_cancel_requested.store(false);
  ExpectSuccess(*Dispatch("cancelSearch"), EncodableValue(true));
  EXPECT_TRUE(g_search_cancel_requested.load());
  // Nothing else is touched.
  EXPECT_EQ(scanner_object_.cancel_count(), 0);
  EXPECT_EQ(launches_, 0);
  g_search_cancel_requested.store(false);
}

// --- What the handlers copy for their workers ------------------------------------------------

TEST_F(DispatcherTest, PerformCleanupKeepsOnlyTheStringCategoriesInOrder) {
  std::vector<std::string> seen_categories;
  std::string seen_drive = "unset";
  operations_.perform_cleanup = [&](const std::vector<std::string>& categories, const std::string& drive) {
    seen_categories = categories;
    seen_drive = drive;
    return WorkerReply(EncodableValue(true));
  };

  const auto record = Dispatch(
      "performCleanup",
      Map({{"categories", List({Text("userTemp"), Int32(3), Text("crashDumps"), kNull, List({Text("nested")}),
                                Text("recycleBin")})},
           {"driveLetter", Text("D")}}));
  ExpectSuccess(*record, EncodableValue(true));
  EXPECT_EQ(seen_categories, (std::vector<std::string>{"userTemp", "crashDumps", "recycleBin"}));
  EXPECT_EQ(seen_drive, "D");

  // A drive letter of another type counts as none.
  Dispatch("performCleanup", Map({{"categories", List({})}, {"driveLetter", Int32(4)}}));
  EXPECT_TRUE(seen_categories.empty());
  EXPECT_EQ(seen_drive, "");
}

TEST_F(DispatcherTest, RecyclePathsKeepsOnlyTheStringPaths) {
  std::vector<std::string> seen_paths;
  operations_.recycle_paths = [&](const std::vector<std::string>& paths) {
    seen_paths = paths;
    return WorkerReply(NotImplementedReply{});
  };
  Dispatch("recyclePaths", Map({{"paths", List({Text("C:\\a.txt"), EncodableValue(2.5), Text("C:\\b")})}}));
  EXPECT_EQ(seen_paths, (std::vector<std::string>{"C:\\a.txt", "C:\\b"}));
}

TEST_F(DispatcherTest, ScanCleanableCategoriesTakesAnyArgumentShape) {
  std::string seen_drive;
  operations_.scan_cleanable_categories = [&](const std::string& drive) {
    seen_drive = drive;
    return WorkerReply(NotImplementedReply{});
  };
  const std::pair<Arguments, std::string> cases[] = {
      {std::nullopt, ""},
      {Text("C"), ""},
      {Map({}), ""},
      {Map({{"driveLetter", Int32(3)}}), ""},
      {Map({{"driveLetter", Text("E")}}), "E"},
  };
  for (const auto& [arguments, expected_drive] : cases) {
    seen_drive = "unset";
    const auto record = Dispatch("scanCleanableCategories", arguments);
    EXPECT_EQ(record->completion_count(), 1);
    EXPECT_EQ(seen_drive, expected_drive);
  }
  EXPECT_EQ(launches_, 5);
}

TEST_F(DispatcherTest, SearchFilesWithAnEmptyMapSearchesDriveCWithDefaults) {
  std::optional<SearchParameters> seen;
  operations_.search_files = [&](const SearchParameters& parameters) {
    seen = parameters;
    return WorkerReply(EncodableValue(EncodableList{}));
  };
  ExpectSuccess(*Dispatch("searchFiles", Map({})), EncodableValue(EncodableList{}));
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->root_path, L"C:\\");
  EXPECT_EQ(seen->query, L"");
  EXPECT_EQ(seen->extension, L"");
  EXPECT_EQ(seen->min_size, 0);
  EXPECT_EQ(seen->max_size, 0);
  EXPECT_EQ(seen->max_results, 500);
}

TEST_F(DispatcherTest, SearchFilesReadsBothIntegerWidthsAndConvertsText) {
  std::optional<SearchParameters> seen;
  operations_.search_files = [&](const SearchParameters& parameters) {
    seen = parameters;
    return WorkerReply(NotImplementedReply{});
  };
  Dispatch("searchFiles",
           Map({{"rootPath", Text("D:\\Fotos")},
                {"query", Text("urlaub 文件")},
                {"extension", Text("jpg, png")},
                {"minSize", Int32(-1)},
                {"maxSize", Int64(int64_t{5} << 32)},
                {"maxResults", Int32(20)}}));
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->root_path, L"D:\\Fotos");
  EXPECT_EQ(seen->query, L"urlaub \u6587\u4EF6");
  EXPECT_EQ(seen->extension, L"jpg, png");
  EXPECT_EQ(seen->min_size, -1);
  EXPECT_EQ(seen->max_size, int64_t{5} << 32);
  EXPECT_EQ(seen->max_results, 20);

  Dispatch("searchFiles", Map({{"maxResults", Int64(int64_t{1} << 40)}}));
  EXPECT_EQ(seen->max_results, int64_t{1} << 40);
}

TEST_F(DispatcherTest, SearchFilesKeepsDefaultsForValuesOfTheWrongType) {
  std::optional<SearchParameters> seen;
  operations_.search_files = [&](const SearchParameters& parameters) {
    seen = parameters;
    return WorkerReply(NotImplementedReply{});
  };
  Dispatch("searchFiles",
           Map({{"rootPath", Int32(1)},
                {"query", List({Text("a")})},
                {"extension", EncodableValue(true)},
                {"minSize", EncodableValue(10.0)},
                {"maxSize", Text("100")},
                {"maxResults", Text("10")}}));
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->root_path, L"C:\\");
  EXPECT_EQ(seen->query, L"");
  EXPECT_EQ(seen->extension, L"");
  EXPECT_EQ(seen->min_size, 0);
  EXPECT_EQ(seen->max_size, 0);
  EXPECT_EQ(seen->max_results, 500);
}

// Paths arrive as UTF-8 and leave as UTF-16; only the shell actions tidy their separators.
TEST_F(DispatcherTest, PathArgumentsAreConvertedAndShellPathsNormalised) {
  std::wstring seen_path;
  const auto record_path = [&](const std::wstring& path) {
    seen_path = path;
    return WorkerReply(NotImplementedReply{});
  };
  operations_.open_in_explorer = record_path;
  operations_.open_file = record_path;
  operations_.verify_authenticode = record_path;
  operations_.start_duplicate_scan = record_path;

  struct PathCase {
    const char* method;
    const char* key;
    const char* path;
    std::wstring expected;
  };
  const PathCase cases[] = {
      {"openInExplorer", "path", "C:/Users//Ünï/", L"C:\\Users\\\u00DCn\u00EF\\"},
      {"openFile", "path", "//server/share//doc.txt", L"\\\\server\\share\\doc.txt"},
      {"openFile", "path", "\\\\\\server\\x", L"\\\\server\\x"},
      {"verifyAuthenticode", "path", "C:/Tools//setup.exe", L"C:/Tools//setup.exe"},
      {"startDuplicateScan", "rootPath", "D:/Fotos 文件 😀", L"D:/Fotos \u6587\u4EF6 \U0001F600"},
  };
  for (const PathCase& path_case : cases) {
    SCOPED_TRACE(std::string(path_case.method) + " " + path_case.path);
    seen_path = L"unset";
    const auto record = Dispatch(path_case.method, Map({{path_case.key, Text(path_case.path)}}));
    EXPECT_EQ(record->completion_count(), 1);
    EXPECT_EQ(seen_path, path_case.expected);
  }
}

TEST_F(DispatcherTest, StringArgumentsReachTheirOperationsAndEmptyKeysPass) {
  std::vector<std::string> seen;
  operations_.launch_uninstaller = [&](const std::string& command) {
    seen = {command};
    return WorkerReply(NotImplementedReply{});
  };
  operations_.secure_write = [&](const std::string& key, const std::string& value) {
    seen = {key, value};
    return WorkerReply(EncodableValue(true));
  };
  operations_.secure_read = [&](const std::string& key) {
    seen = {"read", key};
    return WorkerReply(EncodableValue());
  };
  operations_.secure_delete = [&](const std::string& key) {
    seen = {"delete", key};
    return WorkerReply(EncodableValue(false));
  };

  Dispatch("launchUninstaller", Map({{"command", Text("\"C:\\App\\uninst.exe\" /S")}}));
  EXPECT_EQ(seen, std::vector<std::string>{"\"C:\\App\\uninst.exe\" /S"});
  ExpectSuccess(*Dispatch("secureWrite", Map({{"key", Text("")}, {"value", Text("")}})), EncodableValue(true));
  EXPECT_EQ(seen, (std::vector<std::string>{"", ""}));
  ExpectSuccess(*Dispatch("secureRead", Map({{"key", Text("")}})), EncodableValue());
  EXPECT_EQ(seen, (std::vector<std::string>{"read", ""}));
  ExpectSuccess(*Dispatch("secureDelete", Map({{"key", Text("api token")}})), EncodableValue(false));
  EXPECT_EQ(seen, (std::vector<std::string>{"delete", "api token"}));
}

TEST_F(DispatcherTest, TheOperationsReplyIsForwardedAsItIs) {
  operations_.get_drives = [] {
    return WorkerReply(EncodableValue(EncodableList{Map({{"letter", Text("C")}})}));
  };
  operations_.open_file = [](const std::wstring&) {
    return WorkerReply(WorkerError{"OPEN_ERROR", "Failed to open file."});
  };
  operations_.get_system_metrics = [] { return WorkerReply(NotImplementedReply{}); };

  ExpectSuccess(*Dispatch("getDrives"), EncodableValue(EncodableList{Map({{"letter", Text("C")}})}));
  ExpectError(*Dispatch("openFile", Map({{"path", Text("C:\\missing.txt")}})), "OPEN_ERROR", "Failed to open file.");
  const auto record = Dispatch("getSystemMetrics");
  ASSERT_EQ(record->completion_count(), 1);
  EXPECT_EQ(record->reply().kind, CompletionKind::kNotImplemented);
}

// --- Worker failures -------------------------------------------------------------------------

// A valid call of each worker method and the reply its worker gives when things go wrong.
struct WorkerFailureCase {
  const char* method;
  Arguments arguments;
  CompletionKind kind;
  const char* code;
  const char* message;
};

void PrintTo(const WorkerFailureCase& test_case, std::ostream* stream) {
  *stream << test_case.method;
}

class WorkerFailureTest : public DispatcherTest, public ::testing::WithParamInterface<WorkerFailureCase> {
 protected:
  void ExpectFallbackReply(const ReplyRecord& record) {
    const WorkerFailureCase& test_case = GetParam();
    if (test_case.kind == CompletionKind::kSuccess) {
      ExpectSuccess(record, EncodableValue());
    } else {
      ExpectError(record, test_case.code, test_case.message);
    }
    EXPECT_EQ(record.reply().error_message.find("secret"), std::string::npos);
  }
};

// On real detached threads, as in the product.
TEST_P(WorkerFailureTest, AThrowingOperationGivesTheFixedReplyAndNeverItsText) {
  operations_ = OperationsAllDoing(ThrowSecret);
  launcher_ = LaunchDetachedThread;
  const auto record = Dispatch(GetParam().method, GetParam().arguments);
  ASSERT_TRUE(record->WaitForCompletion());
  ASSERT_TRUE(record->WaitForRelease());
  ExpectFallbackReply(*record);
}

TEST_P(WorkerFailureTest, AThreadThatCannotStartGivesTheFixedReplyAtOnce) {
  bool operation_ran = false;
  operations_ = OperationsAllDoing([&operation_ran] {
    operation_ran = true;
    return WorkerReply(NotImplementedReply{});
  });
  launcher_ = FailToStartThread;
  const auto record = Dispatch(GetParam().method, GetParam().arguments);
  EXPECT_TRUE(record->released());
  EXPECT_FALSE(operation_ran);
  ExpectFallbackReply(*record);
}

INSTANTIATE_TEST_SUITE_P(
    MethodTable,
    WorkerFailureTest,
    ::testing::Values(
        WorkerFailureCase{"getDrives", std::nullopt, CompletionKind::kError, "DRIVE_ERROR",
                          "Failed to retrieve drive information."},
        WorkerFailureCase{"scanCleanableCategories", std::nullopt, CompletionKind::kError, "SCAN_ERROR",
                          "Failed to scan cleanable categories."},
        WorkerFailureCase{"performCleanup", Map({{"categories", List({Text("userTemp")})}}), CompletionKind::kError,
                          "CLEANUP_ERROR", "Failed to perform cleanup."},
        WorkerFailureCase{"recyclePaths", Map({{"paths", List({})}}), CompletionKind::kError, "RECYCLE_ERROR",
                          "Failed to recycle paths."},
        WorkerFailureCase{"getRecycleBinInfo", std::nullopt, CompletionKind::kError, "RECYCLE_BIN_ERROR",
                          "Failed to query Recycle Bin."},
        WorkerFailureCase{"emptyRecycleBin", std::nullopt, CompletionKind::kError, "RECYCLE_BIN_ERROR",
                          "Failed to empty Recycle Bin."},
        WorkerFailureCase{"getInstalledApps", std::nullopt, CompletionKind::kError, "APPS_ERROR",
                          "Failed to retrieve installed applications."},
        WorkerFailureCase{"launchUninstaller", Map({{"command", Text("uninst.exe")}}), CompletionKind::kError,
                          "LAUNCH_ERROR", "Failed to launch uninstaller."},
        WorkerFailureCase{"startDuplicateScan", Map({{"rootPath", Text("C:\\")}}), CompletionKind::kError,
                          "SCAN_ERROR", "Failed to find duplicates."},
        WorkerFailureCase{"searchFiles", Map({}), CompletionKind::kError, "SEARCH_ERROR", "Search failed."},
        WorkerFailureCase{"openInExplorer", Map({{"path", Text("C:\\")}}), CompletionKind::kError, "EXPLORER_ERROR",
                          "Failed to open in explorer."},
        WorkerFailureCase{"openFile", Map({{"path", Text("C:\\a.txt")}}), CompletionKind::kError, "OPEN_ERROR",
                          "Exception while opening file."},
        // The folder picker answers null, as a cancelled dialog does.
        WorkerFailureCase{"pickFolder", std::nullopt, CompletionKind::kSuccess, "", ""},
        WorkerFailureCase{"verifyAuthenticode", Map({{"path", Text("C:\\a.exe")}}), CompletionKind::kError,
                          "VERIFY_ERROR", "Failed to verify authenticode."},
        WorkerFailureCase{"getSystemMetrics", std::nullopt, CompletionKind::kError, "METRICS_ERROR",
                          "Failed to retrieve system metrics."},
        WorkerFailureCase{"secureWrite", Map({{"key", Text("k")}, {"value", Text("v")}}), CompletionKind::kError,
                          "SECURE_WRITE_ERROR", "Failed to write secure key."},
        WorkerFailureCase{"secureRead", Map({{"key", Text("k")}}), CompletionKind::kError, "SECURE_READ_ERROR",
                          "Failed to read secure key."},
        WorkerFailureCase{"secureDelete", Map({{"key", Text("k")}}), CompletionKind::kError, "SECURE_DELETE_ERROR",
                          "Failed to delete secure key."}));

// Whatever is thrown, and however it is thrown, the fallback is the only reply.
TEST(RunWorkerOperationTest, AnyExceptionBecomesTheFallbackReply) {
  const WorkerOperation throwers[] = {
      [] () -> WorkerReply { throw std::runtime_error(kSecretText); },
      [] () -> WorkerReply { throw 42; },
      [] () -> WorkerReply { throw std::bad_alloc(); },
  };
  for (const WorkerOperation& thrower : throwers) {
    RecordingResult recording;
    RunWorkerOperation(thrower, WorkerError{"SEARCH_ERROR", "Search failed."}, *recording.result);
    ASSERT_EQ(recording.record->completion_count(), 1);
    const RecordedReply reply = recording.record->reply();
    EXPECT_EQ(reply.kind, CompletionKind::kError);
    EXPECT_EQ(reply.error_code, "SEARCH_ERROR");
    EXPECT_EQ(reply.error_message, "Search failed.");
  }
}

// A result whose completions throw, as one that fails to encode its reply would.
class ThrowingMethodResult : public testing::RecordingMethodResult {
 public:
  enum class Failing { kSuccessOnly, kEveryCompletion };

  ThrowingMethodResult(std::shared_ptr<ReplyRecord> record, Failing failing)
      : RecordingMethodResult(std::move(record)), failing_(failing) {}

 protected:
  void SuccessInternal(const EncodableValue*) override { throw std::runtime_error(kSecretText); }

  void ErrorInternal(const std::string& code, const std::string& message, const EncodableValue* details) override {
    if (failing_ == Failing::kEveryCompletion) {
      throw std::bad_alloc();
    }
    RecordingMethodResult::ErrorInternal(code, message, details);
  }

 private:
  Failing failing_;
};

TEST(RunWorkerOperationTest, ASuccessThatThrowsIsAnsweredWithTheFallback) {
  const auto record = std::make_shared<ReplyRecord>();
  ThrowingMethodResult result(record, ThrowingMethodResult::Failing::kSuccessOnly);
  RunWorkerOperation([] { return WorkerReply(EncodableValue(true)); }, WorkerError{"DRIVE_ERROR", "Failed."}, result);
  ASSERT_EQ(record->completion_count(), 1);
  EXPECT_EQ(record->reply().error_code, "DRIVE_ERROR");
}

// The worker's outermost frame: nothing may escape it, or the process would end.
TEST(RunWorkerOperationTest, NothingEscapesWhenEvenTheFallbackCannotBeSent) {
  const auto record = std::make_shared<ReplyRecord>();
  ThrowingMethodResult result(record, ThrowingMethodResult::Failing::kEveryCompletion);
  RunWorkerOperation(ThrowSecret, WorkerError{"DRIVE_ERROR", "Failed."}, result);
  EXPECT_EQ(record->completion_count(), 0);
}

// --- Many calls at once ----------------------------------------------------------------------

// A gate that holds every worker until the test has dispatched all calls, so they really are
// in flight together.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST_F(DispatcherTest, ManyCallsInFlightEachGetExactlyOneReply) {
  constexpr int kCalls = 200;
  const auto gate = std::make_shared<Gate>();
  operations_.get_drives = [gate] {
    gate->Wait();
    return WorkerReply(EncodableValue(EncodableList{}));
  };
  operations_.get_system_metrics = [gate] {
    gate->Wait();
    return WorkerReply(EncodableValue(EncodableMap{}));
  };
  launcher_ = LaunchDetachedThread;

  std::vector<std::shared_ptr<ReplyRecord>> records;
  for (int call = 0; call < kCalls; ++call) {
    records.push_back(Dispatch(call % 2 == 0 ? "getDrives" : "getSystemMetrics"));
  }
  // Every dispatch returned while its worker was still held: the platform thread never waits.
  for (const auto& record : records) {
    EXPECT_EQ(record->completion_count(), 0);
  }
  gate->Open();

  for (int call = 0; call < kCalls; ++call) {
    SCOPED_TRACE(call);
    ASSERT_TRUE(records[call]->WaitForRelease());
    ASSERT_EQ(records[call]->completion_count(), 1);
    const RecordedReply reply = records[call]->reply();
    EXPECT_EQ(reply.kind, CompletionKind::kSuccess);
    EXPECT_EQ(reply.value,
              call % 2 == 0 ? EncodableValue(EncodableList{}) : EncodableValue(EncodableMap{}));
  }
}

// The product entry: real operations on real detached threads.
TEST(HandleMethodCallTest, TheProductEntryAnswersAWorkerMethodOnce) {
  RecordingResult recording;
  const auto call = MakeCall("getDrives", std::nullopt);
  HandleMethodCall(*call, std::move(recording.result), nullptr);
  ASSERT_TRUE(recording.record->WaitForRelease());
  EXPECT_EQ(recording.record->completion_count(), 1);
}

}  // namespace
}  // namespace pel_mora
