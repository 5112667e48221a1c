#include "cli/common/event_fields.h"

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

}  // namespace pel_mora::cli
