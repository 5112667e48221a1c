#pragma once

// The four volume queries the drive list is built from, behind an interface so that the
// record-building rules can be exercised with answers no real machine gives on demand (an
// unknown drive type, a label query that fails while the free-space query succeeds).

#include <cstdint>
#include <optional>
#include <string>

namespace pel_mora {

// The label and file-system name of a volume, as the system reports them.
struct VolumeLabels {
  std::wstring volume_name;
  std::wstring file_system;
};

// The size of a volume and the bytes free on it (all free bytes, not only those the caller's
// quota would allow).
struct VolumeCapacity {
  uint64_t total_bytes = 0;
  uint64_t free_bytes = 0;
};

class VolumeQueries {
 public:
  virtual ~VolumeQueries() = default;

  // Bit i is set when drive letter 'A' + i exists.
  virtual uint32_t LogicalDriveMask() const = 0;

  // The type of the drive whose root is `root` ("C:\"): 0 unknown, 1 no such root, 2 removable,
  // 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk.
  virtual uint32_t DriveType(const std::wstring& root) const = 0;

  // The volume's label and file system, or nothing when the volume cannot be queried.
  virtual std::optional<VolumeLabels> Labels(const std::wstring& root) const = 0;

  // The volume's capacity, or nothing when it cannot be queried (no medium, not ready).
  virtual std::optional<VolumeCapacity> Capacity(const std::wstring& root) const = 0;
};

// The queries answered by the running system. Stateless, so any thread may use it at any time.
const VolumeQueries& SystemVolumeQueries();

}  // namespace pel_mora
