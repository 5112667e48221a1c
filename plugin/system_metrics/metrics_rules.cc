#include "plugin/system_metrics/metrics_rules.h"

#include <cstdio>
#include <limits>
#include <utility>

namespace pel_mora {

namespace {

constexpr uint8_t kAcOffline = 0;
constexpr uint8_t kAcOnline = 1;
constexpr uint8_t kUnknownByte = 255;
constexpr uint8_t kBatteryFlagCharging = 8;
constexpr uint8_t kBatteryFlagNoSystemBattery = 128;
constexpr uint32_t kUnknownLifeTime = 0xFFFFFFFFu;

// Bytes per second of a counter that grew by `delta` over `seconds`, truncated. A rate too
// large for 64 bits (a counter that jumped, a tiny interval) saturates rather than wrapping.
int64_t RatePerSecond(uint64_t delta, double seconds) {
  const double rate = static_cast<double>(delta) / seconds;
  if (rate >= 9.2e18) {
    return std::numeric_limits<int64_t>::max();
  }
  return static_cast<int64_t>(rate);
}

int64_t RateOfCounter(uint64_t current, uint64_t previous, double seconds) {
  return current >= previous ? RatePerSecond(current - previous, seconds) : 0;
}

}  // namespace

BatteryReport DescribeBattery(const std::optional<PowerStatusReading>& reading) {
  BatteryReport report;
  if (!reading) {
    return report;
  }
  const PowerStatusReading& status = *reading;
  report.has_battery = status.battery_flag != kBatteryFlagNoSystemBattery &&
                       !(status.battery_life_percent == kUnknownByte && status.ac_line_status == kUnknownByte);
  report.is_charging =
      status.ac_line_status == kAcOnline || (status.battery_flag & kBatteryFlagCharging) != 0;
  const int32_t percent = status.battery_life_percent <= 100 ? status.battery_life_percent : -1;
  report.battery_percent = percent;
  if (status.ac_line_status == kAcOnline) {
    report.power_source = "AC Power (Plugged In)";
  } else if (status.ac_line_status == kAcOffline) {
    report.power_source = "Battery Power";
  } else {
    report.power_source = "Unknown";
  }

  if (!report.has_battery) {
    report.battery_status = "No Battery (Desktop PC)";
    report.power_source = "AC Power (Mains)";
  } else if (report.is_charging && percent < 100) {
    report.battery_status = "Charging";
  } else if (report.is_charging) {
    report.battery_status = "Fully Charged";
  } else if (percent >= 90) {
    report.battery_status = "High Capacity";
  } else if (percent > 25) {
    report.battery_status = "Discharging";
  } else if (percent > 15) {
    report.battery_status = "Low Battery";
  } else {
    report.battery_status = "Critical (Low Battery)";
  }

  report.battery_life_remaining_seconds =
      status.battery_life_seconds == kUnknownLifeTime ? -1 : static_cast<int64_t>(status.battery_life_seconds);
  report.is_battery_saver = status.system_status_flag == 1;
  return report;
}

std::string AdapterTypeName(uint32_t interface_type) {
  switch (interface_type) {
    case 71:
      return "Wi-Fi";
    case 6:
      return "Ethernet";
    case kSoftwareLoopbackInterfaceType:
      return "Loopback";
    case 243:
    case 244:
      return "Cellular";
    case 131:
    case 23:
      return "VPN / Virtual";
    default:
      return "Other";
  }
}

std::string AdapterStatusName(uint32_t operational_status) {
  switch (operational_status) {
    case 1:
      return "Connected";
    case 5:
      return "Dormant";
    case 3:
      return "Testing";
    default:
      return "Disconnected";
  }
}

bool IsListedAdapter(uint32_t interface_type, uint32_t operational_status) {
  return !(interface_type == kSoftwareLoopbackInterfaceType && operational_status != 1);
}

std::string ArchitectureName(uint16_t architecture_code) {
  switch (architecture_code) {
    case 12:
      return "ARM64 (64-bit)";
    case 0:
      return "x86 (32-bit)";
    case 5:
      return "ARM (32-bit)";
    default:
      return "x64 (64-bit)";
  }
}

std::string ProcessorBrandName(std::string_view registered_name) {
  const size_t first = registered_name.find_first_not_of(' ');
  if (first != std::string_view::npos) {
    const size_t last = registered_name.find_last_not_of(' ');
    registered_name = registered_name.substr(first, last - first + 1);
  }
  return registered_name.empty() ? std::string("Unknown Processor") : std::string(registered_name);
}

std::string FormatHardwareAddress(const uint8_t* bytes, uint32_t length) {
  if (bytes == nullptr || length != 6) {
    return {};
  }
  char text[18] = {};
  std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5]);
  return text;
}

double ProcessorLoadSample::Update(const std::optional<ProcessorTimes>& times) {
  if (!times) {
    return 0.0;
  }
  double usage = 0.0;
  if (previous_) {
    // Unsigned arithmetic as the counters are; the kernel time includes the idle time.
    const uint64_t idle_delta = times->idle - previous_->idle;
    const uint64_t total = (times->user - previous_->user) + (times->kernel - previous_->kernel);
    if (total != 0) {
      const uint64_t busy = total < idle_delta ? 0 : total - idle_delta;
      usage = static_cast<double>(busy) * 100.0 / static_cast<double>(total);
      usage = usage > 100.0 ? 100.0 : (usage < 0.0 ? 0.0 : usage);
    }
  }
  previous_ = *times;
  return usage;
}

NetworkRates NetworkSample::Update(const std::vector<InterfaceCounters>& rows, int64_t now_nanoseconds) {
  const double elapsed_seconds =
      has_previous_ ? static_cast<double>(now_nanoseconds - previous_nanoseconds_) / 1e9 : 0.0;
  const bool rates_known = has_previous_ && elapsed_seconds > kMinimumIntervalSeconds;

  NetworkRates rates;
  rates.interfaces.reserve(rows.size());
  std::map<uint64_t, Counters> current_interfaces;
  for (const InterfaceCounters& row : rows) {
    if (row.interface_type != kSoftwareLoopbackInterfaceType) {
      rates.total_bytes_received += row.bytes_received;
      rates.total_bytes_sent += row.bytes_sent;
    }
    current_interfaces[row.luid] = Counters{row.bytes_received, row.bytes_sent};

    TransferRates interface_rates;
    if (rates_known) {
      const auto previous = previous_interfaces_.find(row.luid);
      if (previous != previous_interfaces_.end()) {
        interface_rates.download_bytes_per_second =
            RateOfCounter(row.bytes_received, previous->second.received, elapsed_seconds);
        interface_rates.upload_bytes_per_second =
            RateOfCounter(row.bytes_sent, previous->second.sent, elapsed_seconds);
      }
    }
    rates.interfaces.push_back(interface_rates);
  }

  if (rates_known) {
    rates.total.download_bytes_per_second =
        RateOfCounter(rates.total_bytes_received, previous_total_received_, elapsed_seconds);
    rates.total.upload_bytes_per_second = RateOfCounter(rates.total_bytes_sent, previous_total_sent_, elapsed_seconds);
  }

  has_previous_ = true;
  previous_nanoseconds_ = now_nanoseconds;
  previous_total_received_ = rates.total_bytes_received;
  previous_total_sent_ = rates.total_bytes_sent;
  previous_interfaces_ = std::move(current_interfaces);
  return rates;
}

}  // namespace pel_mora
