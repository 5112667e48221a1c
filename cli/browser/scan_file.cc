#include "cli/browser/scan_file.h"

#include <fstream>
#include <sstream>
#include <variant>

#include "cli/common/event_fields.h"
#include "cli/common/json.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr char kFormatName[] = "pelmora-scan";
constexpr int64_t kFormatVersion = 1;

EncodableValue Key(const char* name) { return EncodableValue(name); }

}  // namespace

void ScanRecorder::Add(const EncodableValue& event, std::chrono::system_clock::time_point now) {
  const auto* map = std::get_if<EncodableMap>(&event);
  if (map == nullptr || finished()) {
    return;
  }
  const std::string type = StringOr(*map, "type", "");
  if (type == "started") {
    if (state_ == State::kWaiting) {
      state_ = State::kRunning;
      root_ = StringOr(*map, "root", "");
      started_at_ = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    }
    return;
  }
  if (state_ != State::kRunning) {
    return;
  }
  if (type == "batch") {
    const EncodableValue* entries = FindField(*map, "entries");
    if (const auto* list = entries != nullptr ? std::get_if<EncodableList>(entries) : nullptr) {
      entries_.insert(entries_.end(), list->begin(), list->end());
    }
    total_files_ = static_cast<int64_t>(CountOr0(*map, "filesScanned"));
    total_folders_ = static_cast<int64_t>(CountOr0(*map, "foldersScanned"));
    total_bytes_ = static_cast<int64_t>(CountOr0(*map, "totalBytes"));
  } else if (type == "completed") {
    state_ = State::kCompleted;
    total_files_ = static_cast<int64_t>(CountOr0(*map, "totalFiles"));
    total_folders_ = static_cast<int64_t>(CountOr0(*map, "totalFolders"));
    total_bytes_ = static_cast<int64_t>(CountOr0(*map, "totalBytes"));
    duration_ms_ = IntegerOr(*map, "durationMs", 0);
  } else if (type == "cancelled") {
    state_ = State::kCancelled;
  }
}

EncodableValue ScanRecorder::ToValue() const {
  EncodableMap saved{
      {Key("format"), EncodableValue(kFormatName)},
      {Key("version"), EncodableValue(kFormatVersion)},
      {Key("root"), EncodableValue(root_)},
      {Key("state"), EncodableValue(state_ == State::kCompleted ? "completed" : "cancelled")},
      {Key("startedAt"), EncodableValue(started_at_)},
      {Key("durationMs"), duration_ms_ ? EncodableValue(*duration_ms_) : EncodableValue()},
      {Key("totalFiles"), EncodableValue(total_files_)},
      {Key("totalFolders"), EncodableValue(total_folders_)},
      {Key("totalBytes"), EncodableValue(total_bytes_)},
      {Key("entries"), EncodableValue(entries_)},
  };
  if (drive_folder_) {
    saved[Key("folder")] = EncodableValue(*drive_folder_);
  }
  return EncodableValue(std::move(saved));
}

void WriteScanFile(const std::string& path, const ScanRecorder& recorder) {
  const std::string text = FormatJson(recorder.ToValue(), JsonLayout::kCompact) + "\n";
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) {
    throw ScanFileError("cannot write the scan to " + path);
  }
}

LoadedScan ParseScanFile(const std::string& text, const std::string& name) {
  const JsonParseResult parsed = ParseJson(text);
  if (!parsed.ok()) {
    throw ScanFileError(name + " is not JSON: " + parsed.error);
  }
  const auto* map = std::get_if<EncodableMap>(&parsed.value);
  if (map == nullptr || StringOr(*map, "format", "") != kFormatName) {
    throw ScanFileError(name + " is not a saved Pelmora scan (it lacks \"format\": \"" + kFormatName + "\")");
  }
  const int64_t version = IntegerOr(*map, "version", -1);
  if (version != kFormatVersion) {
    throw ScanFileError(name + " is a saved scan of version " +
                        (version < 0 ? std::string("(none)") : std::to_string(version)) +
                        "; this client reads version " + std::to_string(kFormatVersion));
  }
  const std::string root = StringOr(*map, "root", "");
  const std::string state = StringOr(*map, "state", "");
  const EncodableValue* entries = FindField(*map, "entries");
  const auto* list = entries != nullptr ? std::get_if<EncodableList>(entries) : nullptr;
  if (root.empty() || (state != "completed" && state != "cancelled") || list == nullptr) {
    throw ScanFileError(name + " is a damaged saved scan (it needs \"root\", \"state\" \"completed\" or "
                                "\"cancelled\", and a list of \"entries\")");
  }
  const EncodableValue* started_at = FindField(*map, "startedAt");
  if (started_at == nullptr || (!std::holds_alternative<int32_t>(*started_at) &&
                                !std::holds_alternative<int64_t>(*started_at))) {
    throw ScanFileError(name + " is a damaged saved scan (\"startedAt\" is not a number of seconds)");
  }
  LoadedScan scan;
  if (const EncodableValue* folder = FindField(*map, "folder")) {
    const auto* text = std::get_if<std::string>(folder);
    if (text == nullptr || text->empty() || text->front() != '/') {
      throw ScanFileError(name + " is a damaged saved scan (\"folder\" is not an absolute Linux path)");
    }
    scan.drive_folder = *text;
  }
  scan.started_at = std::chrono::system_clock::time_point(std::chrono::seconds(IntegerOr(*map, "startedAt", 0)));
  const auto event = [](std::initializer_list<std::pair<const char*, EncodableValue>> fields) {
    EncodableMap fields_map;
    for (const auto& [key, value] : fields) {
      fields_map[EncodableValue(key)] = value;
    }
    return EncodableValue(std::move(fields_map));
  };
  const EncodableValue files(static_cast<int64_t>(CountOr0(*map, "totalFiles")));
  const EncodableValue folders(static_cast<int64_t>(CountOr0(*map, "totalFolders")));
  const EncodableValue bytes(static_cast<int64_t>(CountOr0(*map, "totalBytes")));
  scan.events.push_back(event({{"type", EncodableValue("started")}, {"root", EncodableValue(root)}}));
  scan.events.push_back(event({{"type", EncodableValue("batch")},
                               {"entries", *entries},
                               {"filesScanned", files},
                               {"foldersScanned", folders},
                               {"totalBytes", bytes}}));
  if (state == "completed") {
    scan.events.push_back(event({{"type", EncodableValue("completed")},
                                 {"totalFiles", files},
                                 {"totalFolders", folders},
                                 {"totalBytes", bytes},
                                 {"durationMs", EncodableValue(IntegerOr(*map, "durationMs", 0))}}));
  } else {
    scan.events.push_back(event({{"type", EncodableValue("cancelled")}}));
  }
  return scan;
}

LoadedScan LoadScanFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw ScanFileError("cannot read " + path);
  }
  std::stringstream text;
  text << file.rdbuf();
  return ParseScanFile(text.str(), path);
}

}  // namespace pel_mora::cli
