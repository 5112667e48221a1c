#pragma once

// Reading the fields of a scan event's maps. Malformed fields read as their defaults: a progress
// display or a report of what did arrive is worth more than an exception.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

const flutter::EncodableValue* FindField(const flutter::EncodableMap& map, const char* key);
// An int32 or int64 field; anything else gives `fallback`.
int64_t IntegerOr(const flutter::EncodableMap& map, const char* key, int64_t fallback);
// A count: missing, malformed or negative gives 0.
uint64_t CountOr0(const flutter::EncodableMap& map, const char* key);
std::string StringOr(const flutter::EncodableMap& map, const char* key, const std::string& fallback);
bool BoolOr(const flutter::EncodableMap& map, const char* key, bool fallback);

// Calls `visit` with each entry map of a "batch" event; a missing or malformed list, and entries
// that are not maps, are passed over.
template <typename Visit>
void ForEachBatchEntry(const flutter::EncodableMap& batch, Visit&& visit) {
  const flutter::EncodableValue* entries = FindField(batch, "entries");
  const auto* list = entries != nullptr ? std::get_if<flutter::EncodableList>(entries) : nullptr;
  if (list == nullptr) {
    return;
  }
  for (const flutter::EncodableValue& entry : *list) {
    if (const auto* entry_map = std::get_if<flutter::EncodableMap>(&entry)) {
      visit(*entry_map);
    }
  }
}

// The folder that holds `path` in a scan of `root_path` ("P:\"), or nothing when `path` is not
// strictly below the root or lies deeper than a tree built by recursion should go (the host walks
// 64 levels; 256 is the bound kept here). The root's direct children give the root itself.
std::optional<std::string> ParentInScan(const std::string& path, const std::string& root_path);

}  // namespace pel_mora::cli
