#include <windows.h>

#include <cwchar>

#include "plugin/drives/volume_queries.h"

namespace pel_mora {
namespace {

// Both name buffers hold MAX_PATH + 1 wide characters, zeroed before the call.
constexpr DWORD kNameBufferLength = MAX_PATH + 1;

class SystemQueries final : public VolumeQueries {
 public:
  uint32_t LogicalDriveMask() const override { return GetLogicalDrives(); }

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
