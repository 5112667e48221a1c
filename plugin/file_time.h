#pragma once

#include <cstdint>

namespace pel_mora {

// A Windows file time (100-nanosecond ticks since 1601-01-01 UTC) as whole seconds since
// 1970-01-01 UTC, truncated: the modification times every reply carries.
constexpr int64_t FileTimeToUnixSeconds(uint64_t ticks) {
  constexpr uint64_t kTicksPerSecond = 10'000'000;
  constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  return static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
}

}  // namespace pel_mora
