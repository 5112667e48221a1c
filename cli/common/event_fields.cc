#include "cli/common/event_fields.h"

#include <algorithm>

#include <variant>

namespace pel_mora::cli {

using flutter::EncodableMap;
using flutter::EncodableValue;

const EncodableValue* FindField(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

int64_t IntegerOr(const EncodableMap& map, const char* key, int64_t fallback) {
  const EncodableValue* value = FindField(map, key);
  if (value == nullptr) {
    return fallback;
  }
  if (const auto* narrow = std::get_if<int32_t>(value)) {
    return *narrow;
  }
  if (const auto* wide = std::get_if<int64_t>(value)) {
    return *wide;
  }
  return fallback;
}

uint64_t CountOr0(const EncodableMap& map, const char* key) {
  const int64_t value = IntegerOr(map, key, 0);
  return value < 0 ? 0 : static_cast<uint64_t>(value);
}

std::string StringOr(const EncodableMap& map, const char* key, const std::string& fallback) {
  const EncodableValue* value = FindField(map, key);
  const auto* text = value != nullptr ? std::get_if<std::string>(value) : nullptr;
  return text != nullptr ? *text : fallback;
}

bool BoolOr(const EncodableMap& map, const char* key, bool fallback) {
  const EncodableValue* value = FindField(map, key);
  const auto* flag = value != nullptr ? std::get_if<bool>(value) : nullptr;
  return flag != nullptr ? *flag : fallback;
}

std::optional<std::string> ParentInScan(const std::string& path, const std::string& root_path) {
  constexpr std::ptrdiff_t kMaximumDepth = 256;
  const size_t separator = path.rfind('\\');
  if (path.size() <= root_path.size() || path.compare(0, root_path.size(), root_path) != 0 ||
      separator == std::string::npos || separator + 1 == path.size() ||
      std::count(path.begin(), path.end(), '\\') > kMaximumDepth) {
    return std::nullopt;
  }
  return separator + 1 == root_path.size() ? root_path : path.substr(0, separator);
}

}  // namespace pel_mora::cli
