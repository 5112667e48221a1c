#include "plugin/drives/scan_records.h"

#include <cwctype>
#include <utility>

#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr size_t kFileEntryKeyCount = 7;

// Entries are built for every file of a drive, so their maps are filled in key order with a hint
// at the end: each insertion is then constant time instead of a search. The key order is the
// value model's string order: "extension" < "isAccessible" < "isDirectory" < "modifiedTime" <
// "name" < "path" < "sizeBytes".
void AppendInOrder(EncodableMap& map, const char* key, EncodableValue value) {
  map.emplace_hint(map.end(), EncodableValue(key), std::move(value));
}

}  // namespace

std::string FileExtension(std::wstring_view name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || dot == 0) {
    return {};
  }
  std::wstring extension(name.substr(dot + 1));
  for (wchar_t& character : extension) {
    character = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(character)));
  }
  return WideToUtf8(extension);
}

std::wstring_view LastPathComponent(std::wstring_view path) {
  const size_t separator = path.rfind(L'\\');
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

EncodableValue MakeFileEntry(std::string path, std::string name, uint64_t size_bytes, int64_t modified_time,
                             std::string extension) {
  EncodableMap entry;
  AppendInOrder(entry, "extension", EncodableValue(std::move(extension)));
  AppendInOrder(entry, "isAccessible", EncodableValue(true));
  AppendInOrder(entry, "isDirectory", EncodableValue(false));
  AppendInOrder(entry, "modifiedTime", EncodableValue(modified_time));
  AppendInOrder(entry, "name", EncodableValue(std::move(name)));
  AppendInOrder(entry, "path", EncodableValue(std::move(path)));
  AppendInOrder(entry, "sizeBytes", EncodableValue(static_cast<int64_t>(size_bytes)));
  return EncodableValue(std::move(entry));
}

void FileEntryPool::Recycle(EncodableList& entries) {
  // Enough spares for a full batch; folder entries are few and simply go.
  constexpr size_t kMaximumSpares = 1064;
  for (EncodableValue& entry : entries) {
    if (spares_.size() >= kMaximumSpares) {
      break;
    }
    const auto* map = std::get_if<EncodableMap>(&entry);
    if (map != nullptr && map->size() == kFileEntryKeyCount) {
      spares_.push_back(std::move(entry));
    }
  }
  entries.clear();
}

EncodableValue FileEntryPool::MakeFileEntry(std::string_view path_prefix, std::string_view name, uint64_t size_bytes,
                                            int64_t modified_time, std::string_view extension) {
  if (spares_.empty()) {
    std::string path;
    path.reserve(path_prefix.size() + name.size());
    path.append(path_prefix).append(name);
    return pel_mora::MakeFileEntry(std::move(path), std::string(name), size_bytes, modified_time,
                                   std::string(extension));
  }
  EncodableValue entry = std::move(spares_.back());
  spares_.pop_back();
  // Only file entries are kept, so the seven values are visited in key order.
  auto value = std::get<EncodableMap>(entry).begin();
  std::get<std::string>((value++)->second).assign(extension);
  (value++)->second = EncodableValue(true);
  (value++)->second = EncodableValue(false);
  (value++)->second = EncodableValue(modified_time);
  std::get<std::string>((value++)->second).assign(name);
  std::string& path = std::get<std::string>((value++)->second);
  path.assign(path_prefix).append(name);
  value->second = EncodableValue(static_cast<int64_t>(size_bytes));
  return entry;
}

EncodableValue MakeFolderEntry(std::string path, std::string name, uint64_t size_bytes, int64_t modified_time) {
  EncodableMap entry;
  AppendInOrder(entry, "isAccessible", EncodableValue(true));
  AppendInOrder(entry, "isDirectory", EncodableValue(true));
  AppendInOrder(entry, "modifiedTime", EncodableValue(modified_time));
  AppendInOrder(entry, "name", EncodableValue(std::move(name)));
  AppendInOrder(entry, "path", EncodableValue(std::move(path)));
  AppendInOrder(entry, "sizeBytes", EncodableValue(static_cast<int64_t>(size_bytes)));
  return EncodableValue(std::move(entry));
}

EncodableValue MakeInaccessibleFolderEntry(std::string path, std::string name) {
  EncodableMap entry;
  AppendInOrder(entry, "isAccessible", EncodableValue(false));
  AppendInOrder(entry, "isDirectory", EncodableValue(true));
  AppendInOrder(entry, "name", EncodableValue(std::move(name)));
  AppendInOrder(entry, "path", EncodableValue(std::move(path)));
  AppendInOrder(entry, "sizeBytes", EncodableValue(int64_t{0}));
  return EncodableValue(std::move(entry));
}

// Events are built by moving each value in: a map built from a braced list would copy its
// elements, and a batch's element is the whole list of entries.
EncodableValue MakeStartedEvent(std::string root) {
  EncodableMap event;
  event.emplace(EncodableValue("type"), EncodableValue("started"));
  event.emplace(EncodableValue("root"), EncodableValue(std::move(root)));
  return EncodableValue(std::move(event));
}

EncodableValue MakeBatchEvent(EncodableList entries, const ScanTotals& totals) {
  EncodableMap event;
  event.emplace(EncodableValue("type"), EncodableValue("batch"));
  event.emplace(EncodableValue("entries"), EncodableValue(std::move(entries)));
  event.emplace(EncodableValue("filesScanned"), EncodableValue(static_cast<int64_t>(totals.files)));
  event.emplace(EncodableValue("foldersScanned"), EncodableValue(static_cast<int64_t>(totals.folders)));
  event.emplace(EncodableValue("totalBytes"), EncodableValue(static_cast<int64_t>(totals.bytes)));
  return EncodableValue(std::move(event));
}

EncodableValue MakeCompletedEvent(const ScanTotals& totals, int64_t duration_ms) {
  EncodableMap event;
  event.emplace(EncodableValue("type"), EncodableValue("completed"));
  event.emplace(EncodableValue("totalFiles"), EncodableValue(static_cast<int64_t>(totals.files)));
  event.emplace(EncodableValue("totalFolders"), EncodableValue(static_cast<int64_t>(totals.folders)));
  event.emplace(EncodableValue("totalBytes"), EncodableValue(static_cast<int64_t>(totals.bytes)));
  event.emplace(EncodableValue("durationMs"), EncodableValue(duration_ms));
  return EncodableValue(std::move(event));
}

EncodableValue MakeCancelledEvent() {
  EncodableMap event;
  event.emplace(EncodableValue("type"), EncodableValue("cancelled"));
  return EncodableValue(std::move(event));
}

}  // namespace pel_mora
