#pragma once

// The decisions behind a metrics snapshot that need no Win32: the battery, adapter and
// architecture tables, the processor-name clean-up and the rate computations with the samples
// they keep between snapshots. The Win32 side reads the raw values and builds the reply from
// what these return.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pel_mora {

// The fields of the system's power status the battery section is built from, as it reports them.
struct PowerStatusReading {
  uint8_t ac_line_status = 255;        // 0 offline, 1 online, 255 unknown.
  uint8_t battery_flag = 255;          // Bit field; 8 charging, 128 no system battery, 255 unknown.
  uint8_t battery_life_percent = 255;  // 0 to 100, 255 unknown.
  uint8_t system_status_flag = 0;      // 1 while battery saver is on.
  uint32_t battery_life_seconds = 0xFFFFFFFFu;  // 0xFFFFFFFF when unknown.
};

// The battery section's values.
struct BatteryReport {
  bool has_battery = false;
  bool is_charging = true;
  int32_t battery_percent = -1;
  std::string power_source = "AC Power";
  std::string battery_status = "No Battery";
  int64_t battery_life_remaining_seconds = -1;
  bool is_battery_saver = false;
};

// The battery section for a power status, or for a power-status query that failed (nothing).
BatteryReport DescribeBattery(const std::optional<PowerStatusReading>& reading);

// The display name of a network interface type (IANA ifType numbers).
std::string AdapterTypeName(uint32_t interface_type);

// The display name of an interface's operational status (1 up, 2 down, 3 testing, 4 unknown,
// 5 dormant, 6 not present, 7 lower layer down).
std::string AdapterStatusName(uint32_t operational_status);

// Whether an interface appears in the adapter list: everything but a loopback that is not up.
bool IsListedAdapter(uint32_t interface_type, uint32_t operational_status);

// The display name of a processor architecture code of the native system information.
std::string ArchitectureName(uint16_t architecture_code);

// The processor brand as shown: leading and trailing spaces removed (a name of spaces only is
// kept as it is), "Unknown Processor" for an empty name.
std::string ProcessorBrandName(std::string_view registered_name);

// "AA:BB:CC:DD:EE:FF" for a six-byte hardware address; empty for any other length.
std::string FormatHardwareAddress(const uint8_t* bytes, uint32_t length);

// Processor times of the whole system in 100-ns units. The kernel time includes the idle time.
struct ProcessorTimes {
  uint64_t idle = 0;
  uint64_t kernel = 0;
  uint64_t user = 0;
};

// The processor times of the previous snapshot. Not thread-safe: its owner guards it.
class ProcessorLoadSample {
 public:
  // The load in percent (0 to 100) since the previous reading, then this reading becomes the
  // previous one. The first reading gives 0, and so does a reading with no time passed. A failed
  // reading (nothing) gives 0 and leaves the previous one in place.
  double Update(const std::optional<ProcessorTimes>& times);

 private:
  std::optional<ProcessorTimes> previous_;
};

// One row of the interface table: its identity, type and byte counters.
struct InterfaceCounters {
  uint64_t luid = 0;
  uint32_t interface_type = 0;
  uint64_t bytes_received = 0;
  uint64_t bytes_sent = 0;
};

// Bytes per second in each direction.
struct TransferRates {
  int64_t download_bytes_per_second = 0;
  int64_t upload_bytes_per_second = 0;
};

// What one network reading gives: a rate per interface row (same order as the rows) and the
// totals over all interfaces that are not loopbacks.
struct NetworkRates {
  std::vector<TransferRates> interfaces;
  TransferRates total;
  uint64_t total_bytes_received = 0;
  uint64_t total_bytes_sent = 0;
};

// The network counters of the previous snapshot. Not thread-safe: its owner guards it.
class NetworkSample {
 public:
  // Readings closer together than this give no rates; the reading still becomes the baseline.
  static constexpr double kMinimumIntervalSeconds = 0.05;

  // The rates since the previous reading, taken at `now_nanoseconds` of a monotonic clock; then
  // this reading becomes the previous one. Rates are 0 on the first reading, after less than
  // the minimum interval, for an interface not seen before, and for a counter that went
  // backwards (an interface reset).
  NetworkRates Update(const std::vector<InterfaceCounters>& rows, int64_t now_nanoseconds);

 private:
  struct Counters {
    uint64_t received = 0;
    uint64_t sent = 0;
  };

  bool has_previous_ = false;
  int64_t previous_nanoseconds_ = 0;
  uint64_t previous_total_received_ = 0;
  uint64_t previous_total_sent_ = 0;
  std::map<uint64_t, Counters> previous_interfaces_;
};

// The interface type of a software loopback, whose counters stay out of the totals.
inline constexpr uint32_t kSoftwareLoopbackInterfaceType = 24;

}  // namespace pel_mora
