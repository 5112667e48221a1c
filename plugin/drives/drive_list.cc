#include "plugin/drives/drive_list.h"

#include <cstdint>
#include <string>

#include "plugin/operations.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// The drive types that carry no volume to ask about.
constexpr uint32_t kDriveTypeUnknown = 0;
constexpr uint32_t kDriveTypeNoRootDirectory = 1;

constexpr int kDriveLetterCount = 26;

}  // namespace

EncodableMap GetDriveInfo(wchar_t letter, const VolumeQueries& queries) {
  EncodableMap record{
      {EncodableValue("driveLetter"), EncodableValue(WideToUtf8(std::wstring(1, letter)))},
      {EncodableValue("isReady"), EncodableValue(false)},
      {EncodableValue("volumeName"), EncodableValue(std::string())},
      {EncodableValue("fileSystem"), EncodableValue(std::string())},
      {EncodableValue("totalBytes"), EncodableValue(int64_t{0})},
      {EncodableValue("freeBytes"), EncodableValue(int64_t{0})},
      {EncodableValue("usedBytes"), EncodableValue(int64_t{0})},
  };
  const std::wstring root{letter, L':', L'\\'};
  const uint32_t drive_type = queries.DriveType(root);
  record[EncodableValue("driveType")] = EncodableValue(static_cast<int32_t>(drive_type));
  if (drive_type == kDriveTypeUnknown || drive_type == kDriveTypeNoRootDirectory) {
    return record;
  }

  if (const auto labels = queries.Labels(root)) {
    record[EncodableValue("volumeName")] = EncodableValue(WideToUtf8(labels->volume_name));
    record[EncodableValue("fileSystem")] = EncodableValue(WideToUtf8(labels->file_system));
  }
  // Asked even when the labels could not be read: a volume may answer one query and not the other.
  if (const auto capacity = queries.Capacity(root)) {
    record[EncodableValue("totalBytes")] = EncodableValue(static_cast<int64_t>(capacity->total_bytes));
    record[EncodableValue("freeBytes")] = EncodableValue(static_cast<int64_t>(capacity->free_bytes));
    record[EncodableValue("usedBytes")] =
        EncodableValue(static_cast<int64_t>(capacity->total_bytes - capacity->free_bytes));
    record[EncodableValue("isReady")] = EncodableValue(true);
  }
  return record;
}

EncodableList GetDrives(const VolumeQueries& queries) {
  EncodableList drives;
  const uint32_t mask = queries.LogicalDriveMask();
  if (mask == 0) {
    return drives;
  }
  const EncodableValue type_key("driveType");
  const EncodableValue no_root_directory(static_cast<int32_t>(kDriveTypeNoRootDirectory));
  for (int index = 0; index < kDriveLetterCount; ++index) {
    if ((mask & (uint32_t{1} << index)) == 0) {
      continue;
    }
    EncodableMap record = GetDriveInfo(static_cast<wchar_t>(L'A' + index), queries);
    // A root that vanished between the mask and the type query is not a drive to offer.
    if (record[type_key] == no_root_directory) {
      continue;
    }
    drives.emplace_back(std::move(record));
  }
  return drives;
}

EncodableList GetDrives() { return GetDrives(SystemVolumeQueries()); }

EncodableMap GetDriveInfo(wchar_t letter) { return GetDriveInfo(letter, SystemVolumeQueries()); }

WorkerReply GetDrivesOperation() {
  return flutter::EncodableValue(GetDrives());
}

}  // namespace pel_mora
