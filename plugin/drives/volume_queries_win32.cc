#include <windows.h>

#include <cwchar>

#include "plugin/drives/volume_queries.h"

namespace pel_mora {
namespace {

// Both name buffers hold MAX_PATH + 1 wide characters, zeroed before the call.
constexpr DWORD kNameBufferLength = MAX_PATH + 1;

class SystemQueries final : public VolumeQueries {
 public:
  // GetLogicalDrives reports the drive letters the system announced, and under Wine that is the
  // list its mount manager built when the wineserver started: a letter linked into the prefix's
  // dosdevices later (by `pelmora-cli map`, while a wineserver from an earlier command still
  // runs) is missing from the mask although every path on it already works. So each letter the
  // mask leaves out is also asked for its root's type, which resolves the path itself; on
  // Windows the two agree and the extra question finds nothing.
  uint32_t LogicalDriveMask() const override {
    uint32_t mask = GetLogicalDrives();
    for (int index = 0; index < 26; ++index) {
      const uint32_t bit = uint32_t{1} << index;
      if ((mask & bit) != 0) {
        continue;
      }
      const wchar_t root[] = {static_cast<wchar_t>(L'A' + index), L':', L'\\', L'\0'};
      if (GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR) {
        mask |= bit;
      }
    }
    return mask;
  }

  uint32_t DriveType(const std::wstring& root) const override { return GetDriveTypeW(root.c_str()); }

  std::optional<VolumeLabels> Labels(const std::wstring& root) const override {
    wchar_t volume_name[kNameBufferLength] = {};
    wchar_t file_system[kNameBufferLength] = {};
    DWORD serial_number = 0;
    DWORD maximum_component_length = 0;
    DWORD file_system_flags = 0;
    if (!GetVolumeInformationW(root.c_str(), volume_name, kNameBufferLength, &serial_number,
                               &maximum_component_length, &file_system_flags, file_system, kNameBufferLength)) {
      return std::nullopt;
    }
    // The buffers were zeroed, so a name that fills one completely still ends inside it.
    return VolumeLabels{std::wstring(volume_name, wcsnlen(volume_name, kNameBufferLength)),
                        std::wstring(file_system, wcsnlen(file_system, kNameBufferLength))};
  }

  std::optional<VolumeCapacity> Capacity(const std::wstring& root) const override {
    ULARGE_INTEGER available_to_caller{};
    ULARGE_INTEGER total_bytes{};
    ULARGE_INTEGER total_free_bytes{};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available_to_caller, &total_bytes, &total_free_bytes)) {
      return std::nullopt;
    }
    return VolumeCapacity{total_bytes.QuadPart, total_free_bytes.QuadPart};
  }
};

}  // namespace

const VolumeQueries& SystemVolumeQueries() {
  static const SystemQueries queries;
  return queries;
}

}  // namespace pel_mora
