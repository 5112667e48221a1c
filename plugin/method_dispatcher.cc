#include "plugin/method_dispatcher.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "plugin/file_search_cancel.h"
#include "plugin/path_normalization.h"
#include "plugin/string_conversion.h"

namespace pel_mora {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// A reply the handler gives on the platform thread: an argument error or an inline method's
// answer.
struct AnswerNow {
  WorkerReply reply;
};

// What a method's handler decides after looking at the arguments.
using HandlerDecision = std::variant<AnswerNow, WorkerOperation>;

struct HandlerContext {
  ScanControl* scanner;
  const WorkerOperations& operations;
};

using Handler = HandlerDecision (*)(const EncodableValue* arguments, const HandlerContext& context);

AnswerNow InvalidArguments(const char* message) {
  return AnswerNow{WorkerError{"INVALID_ARGS", message}};
}

AnswerNow AnswerTrue() {
  return AnswerNow{EncodableValue(true)};
}

// A call without arguments, or with a null argument, counts as not carrying a map.
const EncodableMap* AsMap(const EncodableValue* arguments) {
  return arguments == nullptr ? nullptr : std::get_if<EncodableMap>(arguments);
}

const EncodableValue* FindValue(const EncodableMap& map, const char* key) {
  const auto entry = map.find(EncodableValue(key));
  return entry == map.end() ? nullptr : &entry->second;
}

const std::string* AsString(const EncodableValue* value) {
  return value == nullptr ? nullptr : std::get_if<std::string>(value);
}

// An optional string argument: a missing map, a missing key or a value of another type give
// an empty string.
std::string OptionalString(const EncodableMap* map, const char* key) {
  if (map == nullptr) {
    return {};
  }
  const std::string* text = AsString(FindValue(*map, key));
  return text == nullptr ? std::string() : *text;
}

// Optional arguments keep `target` (their default) unless the key holds the expected type.
void ReadOptionalWideString(const EncodableMap& map, const char* key, std::wstring& target) {
  if (const std::string* text = AsString(FindValue(map, key))) {
    target = Utf8ToWide(*text);
  }
}

void ReadOptionalInteger(const EncodableMap& map, const char* key, int64_t& target) {
  const EncodableValue* value = FindValue(map, key);
  // The interface's codec picks 32 or 64 bits by magnitude, so both mean the same number.
  if (value != nullptr && (std::holds_alternative<int32_t>(*value) || std::holds_alternative<int64_t>(*value))) {
    target = value->LongValue();
  }
}

// Only the string entries of a list are kept, in their order; anything else is skipped.
std::vector<std::string> StringEntries(const EncodableList& list) {
  std::vector<std::string> strings;
  strings.reserve(list.size());
  for (const EncodableValue& entry : list) {
    if (const auto* text = std::get_if<std::string>(&entry)) {
      strings.push_back(*text);
    }
  }
  return strings;
}

// The validation messages of a method whose one argument is a map with a required entry, in the
// order they are checked.
struct RequiredArgumentMessages {
  const char* not_a_map;
  const char* missing_key;
  const char* wrong_value;
};

// Checks a required non-empty string argument. Returns the message to answer, or null when the
// argument is good and `text` points at it.
const char* RequireNonEmptyString(const EncodableValue* arguments,
                                  const char* key,
                                  const RequiredArgumentMessages& messages,
                                  const std::string*& text) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return messages.not_a_map;
  }
  const EncodableValue* value = FindValue(*map, key);
  if (value == nullptr) {
    return messages.missing_key;
  }
  text = AsString(value);
  if (text == nullptr || text->empty()) {
    return messages.wrong_value;
  }
  return nullptr;
}

// Checks a required list argument; on success `list` points at it.
const char* RequireList(const EncodableValue* arguments,
                        const char* key,
                        const RequiredArgumentMessages& messages,
                        const EncodableList*& list) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return messages.not_a_map;
  }
  const EncodableValue* value = FindValue(*map, key);
  if (value == nullptr) {
    return messages.missing_key;
  }
  list = std::get_if<EncodableList>(value);
  if (list == nullptr) {
    return messages.wrong_value;
  }
  return nullptr;
}

// A string key that may be empty, for the key store's read and delete.
const char* RequireStringKey(const EncodableValue* arguments, const std::string*& key) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return "Expected map";
  }
  const EncodableValue* value = FindValue(*map, "key");
  if (value == nullptr) {
    return "Missing key";
  }
  key = AsString(value);
  if (key == nullptr) {
    return "Expected string key";
  }
  return nullptr;
}

// Worker handlers bind a copy of their operation and of the arguments into the task, so the
// worker never reads the call and does not depend on the operation set outliving it.

HandlerDecision HandleGetDrives(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.get_drives);
}

// Answered on the platform thread: the scan reports only through the event channel.
HandlerDecision HandleStartScan(const EncodableValue* arguments, const HandlerContext& context) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return InvalidArguments("Expected a map argument.");
  }
  const EncodableValue* value = FindValue(*map, "driveLetter");
  if (value == nullptr) {
    return InvalidArguments("Missing 'driveLetter'.");
  }
  const std::string* text = AsString(value);
  if (text == nullptr || text->empty()) {
    return InvalidArguments("driveLetter must be a non-empty string.");
  }
  // Only the first byte counts ("c:\" names drive C). It is upper-cased by folding a to z only,
  // independent of the C locale; a byte above 127 (part of a multi-byte character) is never a
  // drive letter.
  wchar_t letter = static_cast<unsigned char>((*text)[0]);
  if (letter >= L'a' && letter <= L'z') {
    letter = static_cast<wchar_t>(letter - L'a' + L'A');
  }
  if (letter < L'A' || letter > L'Z') {
    return InvalidArguments("Invalid drive letter.");
  }
  // Replying true promises a running scan; without a scanner, or when its thread cannot be
  // started, an error says so instead of leaving the interface waiting for events.
  const AnswerNow start_failed{WorkerError{"SCAN_ERROR", "Failed to start scan."}};
  if (context.scanner == nullptr) {
    return start_failed;
  }
  try {
    context.scanner->Start(letter);
  } catch (...) {
    return start_failed;
  }
  return AnswerTrue();
}

HandlerDecision HandleCancelScan(const EncodableValue*, const HandlerContext& context) {
  // Does not wait for the scan to stop; true even when nothing runs.
  if (context.scanner != nullptr) {
    context.scanner->Cancel();
  }
  return AnswerTrue();
}

HandlerDecision HandleScanCleanableCategories(const EncodableValue* arguments, const HandlerContext& context) {
  return WorkerOperation([operation = context.operations.scan_cleanable_categories,
                          drive_letter = OptionalString(AsMap(arguments), "driveLetter")] {
    return operation(drive_letter);
  });
}

HandlerDecision HandlePerformCleanup(const EncodableValue* arguments, const HandlerContext& context) {
  static constexpr RequiredArgumentMessages kMessages{
      "Expected map with 'categories'", "Missing 'categories'", "'categories' must be a list of strings"};
  const EncodableList* list = nullptr;
  if (const char* failure = RequireList(arguments, "categories", kMessages, list)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.perform_cleanup,
                          categories = StringEntries(*list),
                          drive_letter = OptionalString(AsMap(arguments), "driveLetter")] {
    return operation(categories, drive_letter);
  });
}

HandlerDecision HandleRecyclePaths(const EncodableValue* arguments, const HandlerContext& context) {
  static constexpr RequiredArgumentMessages kMessages{
      "Expected map with 'paths'", "Missing 'paths'", "'paths' must be a list of strings"};
  const EncodableList* list = nullptr;
  if (const char* failure = RequireList(arguments, "paths", kMessages, list)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation(
      [operation = context.operations.recycle_paths, paths = StringEntries(*list)] { return operation(paths); });
}

HandlerDecision HandleGetRecycleBinInfo(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.get_recycle_bin_info);
}

HandlerDecision HandleEmptyRecycleBin(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.empty_recycle_bin);
}

HandlerDecision HandleGetInstalledApps(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.get_installed_apps);
}

HandlerDecision HandleLaunchUninstaller(const EncodableValue* arguments, const HandlerContext& context) {
  static constexpr RequiredArgumentMessages kMessages{
      "Expected map with 'command'", "Missing 'command'", "Command is empty"};
  const std::string* command = nullptr;
  if (const char* failure = RequireNonEmptyString(arguments, "command", kMessages, command)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation(
      [operation = context.operations.launch_uninstaller, command = *command] { return operation(command); });
}

HandlerDecision HandleStartDuplicateScan(const EncodableValue* arguments, const HandlerContext& context) {
  static constexpr RequiredArgumentMessages kMessages{
      "Expected map with 'rootPath'", "Missing 'rootPath'", "rootPath is empty"};
  const std::string* root_path = nullptr;
  if (const char* failure = RequireNonEmptyString(arguments, "rootPath", kMessages, root_path)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.start_duplicate_scan,
                          root_path = Utf8ToWide(*root_path)] { return operation(root_path); });
}

HandlerDecision HandleSearchFiles(const EncodableValue* arguments, const HandlerContext& context) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return InvalidArguments("Expected map with search parameters");
  }
  SearchParameters parameters;
  ReadOptionalWideString(*map, "rootPath", parameters.root_path);
  ReadOptionalWideString(*map, "query", parameters.query);
  ReadOptionalWideString(*map, "extension", parameters.extension);
  ReadOptionalInteger(*map, "minSize", parameters.min_size);
  ReadOptionalInteger(*map, "maxSize", parameters.max_size);
  ReadOptionalInteger(*map, "maxResults", parameters.max_results);
  return WorkerOperation([operation = context.operations.search_files, parameters = std::move(parameters)] {
    return operation(parameters);
  });
}

HandlerDecision HandleCancelSearch(const EncodableValue*, const HandlerContext&) {
  // Every running search sees the flag; none is waited for.
  g_search_cancel_requested.store(true);
  return AnswerTrue();
}

// Methods 14 and 15 share their messages, with full stops, and tidy the path.
constexpr RequiredArgumentMessages kShellPathMessages{"Expected a map argument.", "Missing 'path'.", "Path is empty."};

HandlerDecision HandleOpenInExplorer(const EncodableValue* arguments, const HandlerContext& context) {
  const std::string* path = nullptr;
  if (const char* failure = RequireNonEmptyString(arguments, "path", kShellPathMessages, path)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.open_in_explorer,
                          path = NormalizePath(Utf8ToWide(*path))] { return operation(path); });
}

HandlerDecision HandleOpenFile(const EncodableValue* arguments, const HandlerContext& context) {
  const std::string* path = nullptr;
  if (const char* failure = RequireNonEmptyString(arguments, "path", kShellPathMessages, path)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.open_file, path = NormalizePath(Utf8ToWide(*path))] {
    return operation(path);
  });
}

HandlerDecision HandlePickFolder(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.pick_folder);
}

HandlerDecision HandleVerifyAuthenticode(const EncodableValue* arguments, const HandlerContext& context) {
  static constexpr RequiredArgumentMessages kMessages{"Expected map with 'path'", "Missing 'path'", "Path is empty"};
  const std::string* path = nullptr;
  if (const char* failure = RequireNonEmptyString(arguments, "path", kMessages, path)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation(
      [operation = context.operations.verify_authenticode, path = Utf8ToWide(*path)] { return operation(path); });
}

HandlerDecision HandleGetSystemMetrics(const EncodableValue*, const HandlerContext& context) {
  return WorkerOperation(context.operations.get_system_metrics);
}

HandlerDecision HandleSecureWrite(const EncodableValue* arguments, const HandlerContext& context) {
  const EncodableMap* map = AsMap(arguments);
  if (map == nullptr) {
    return InvalidArguments("Expected map");
  }
  const EncodableValue* key_value = FindValue(*map, "key");
  const EncodableValue* value_value = FindValue(*map, "value");
  if (key_value == nullptr || value_value == nullptr) {
    return InvalidArguments("Missing key or value");
  }
  const std::string* key = AsString(key_value);
  const std::string* value = AsString(value_value);
  if (key == nullptr || value == nullptr) {
    return InvalidArguments("Expected strings");
  }
  // Empty strings pass; the key store decides what an empty key means.
  return WorkerOperation([operation = context.operations.secure_write, key = *key, value = *value] {
    return operation(key, value);
  });
}

HandlerDecision HandleSecureRead(const EncodableValue* arguments, const HandlerContext& context) {
  const std::string* key = nullptr;
  if (const char* failure = RequireStringKey(arguments, key)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.secure_read, key = *key] { return operation(key); });
}

HandlerDecision HandleSecureDelete(const EncodableValue* arguments, const HandlerContext& context) {
  const std::string* key = nullptr;
  if (const char* failure = RequireStringKey(arguments, key)) {
    return InvalidArguments(failure);
  }
  return WorkerOperation([operation = context.operations.secure_delete, key = *key] { return operation(key); });
}

// How a worker answers when its operation throws or its thread cannot be started.
enum class FallbackKind {
  // Answered on the platform thread; no worker, no fallback.
  kNone,
  kError,
  // The folder picker answers null, as when the user cancels the dialog.
  kNull,
};

struct MethodEntry {
  std::string_view name;
  Handler handler;
  FallbackKind fallback_kind;
  const char* error_code;
  const char* error_message;
};

constexpr MethodEntry Inline(std::string_view name, Handler handler) {
  return {name, handler, FallbackKind::kNone, nullptr, nullptr};
}

constexpr MethodEntry Worker(std::string_view name, Handler handler, const char* error_code, const char* error_message) {
  return {name, handler, FallbackKind::kError, error_code, error_message};
}

constexpr MethodEntry WorkerAnsweringNull(std::string_view name, Handler handler) {
  return {name, handler, FallbackKind::kNull, nullptr, nullptr};
}

// The method table, in dispatch order. Names compare exactly, case included.
constexpr MethodEntry kMethodTable[] = {
    Worker("getDrives", HandleGetDrives, "DRIVE_ERROR", "Failed to retrieve drive information."),
    Inline("startScan", HandleStartScan),
    Inline("cancelScan", HandleCancelScan),
    Worker("scanCleanableCategories", HandleScanCleanableCategories, "SCAN_ERROR", "Failed to scan cleanable categories."),
    Worker("performCleanup", HandlePerformCleanup, "CLEANUP_ERROR", "Failed to perform cleanup."),
    Worker("recyclePaths", HandleRecyclePaths, "RECYCLE_ERROR", "Failed to recycle paths."),
    Worker("getRecycleBinInfo", HandleGetRecycleBinInfo, "RECYCLE_BIN_ERROR", "Failed to query Recycle Bin."),
    Worker("emptyRecycleBin", HandleEmptyRecycleBin, "RECYCLE_BIN_ERROR", "Failed to empty Recycle Bin."),
    Worker("getInstalledApps", HandleGetInstalledApps, "APPS_ERROR", "Failed to retrieve installed applications."),
    Worker("launchUninstaller", HandleLaunchUninstaller, "LAUNCH_ERROR", "Failed to launch uninstaller."),
    Worker("startDuplicateScan", HandleStartDuplicateScan, "SCAN_ERROR", "Failed to find duplicates."),
    Worker("searchFiles", HandleSearchFiles, "SEARCH_ERROR", "Search failed."),
    Inline("cancelSearch", HandleCancelSearch),
    Worker("openInExplorer", HandleOpenInExplorer, "EXPLORER_ERROR", "Failed to open in explorer."),
    Worker("openFile", HandleOpenFile, "OPEN_ERROR", "Exception while opening file."),
    WorkerAnsweringNull("pickFolder", HandlePickFolder),
    Worker("verifyAuthenticode", HandleVerifyAuthenticode, "VERIFY_ERROR", "Failed to verify authenticode."),
    Worker("getSystemMetrics", HandleGetSystemMetrics, "METRICS_ERROR", "Failed to retrieve system metrics."),
    Worker("secureWrite", HandleSecureWrite, "SECURE_WRITE_ERROR", "Failed to write secure key."),
    Worker("secureRead", HandleSecureRead, "SECURE_READ_ERROR", "Failed to read secure key."),
    Worker("secureDelete", HandleSecureDelete, "SECURE_DELETE_ERROR", "Failed to delete secure key."),
};

WorkerReply FallbackReply(const MethodEntry& entry) {
  if (entry.fallback_kind == FallbackKind::kError) {
    return WorkerError{entry.error_code, entry.error_message};
  }
  return EncodableValue();
}

const MethodEntry* FindMethod(const std::string& name) {
  for (const MethodEntry& entry : kMethodTable) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

const WorkerOperations& ProductOperations() {
  static const WorkerOperations operations;
  return operations;
}

}  // namespace

void HandleMethodCall(const flutter::MethodCall<>& call,
                      std::unique_ptr<flutter::MethodResult<>> result,
                      ScanControl* scanner) {
  HandleMethodCall(call, std::move(result), scanner, ProductOperations(), LaunchDetachedThread);
}

void HandleMethodCall(const flutter::MethodCall<>& call,
                      std::unique_ptr<flutter::MethodResult<>> result,
                      ScanControl* scanner,
                      const WorkerOperations& operations,
                      const ThreadLauncher& launcher) {
  const MethodEntry* entry = FindMethod(call.method_name());
  if (entry == nullptr) {
    result->NotImplemented();
    return;
  }
  const HandlerContext context{scanner, operations};
  HandlerDecision decision = entry->handler(call.arguments(), context);
  if (auto* answer = std::get_if<AnswerNow>(&decision)) {
    CompleteResult(answer->reply, *result);
    return;
  }
  StartWorker(std::move(result), std::move(std::get<WorkerOperation>(decision)), FallbackReply(*entry), launcher);
}

}  // namespace pel_mora
