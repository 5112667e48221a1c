#pragma once

// One snapshot of the machine for "getSystemMetrics": processor, memory, battery, network and
// operating system, each section a map of its own, plus the snapshot's wall-clock time. Safe to
// call from several worker threads at once; the processor and network rates are computed against
// the previous call of any thread.

#include <cstdint>

#include "channel/encodable_value.h"

namespace pel_mora {

flutter::EncodableMap CpuInfo();
flutter::EncodableMap MemoryInfo();
flutter::EncodableMap BatteryInfo();

// Nanoseconds of a monotonic clock; the network rates are computed over its intervals.
using MonotonicClock = int64_t (*)();
int64_t SteadyClockNanoseconds();

// The network section, its rates computed over the interval `clock` measured since the previous
// reading (the steady clock unless a test gives its own).
flutter::EncodableMap NetworkInfo(MonotonicClock clock = SteadyClockNanoseconds);
flutter::EncodableMap OsInfo();

// The five sections in the order above, then "timestamp".
flutter::EncodableMap CollectSystemMetrics();

}  // namespace pel_mora
