#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "plugin/system_metrics/metrics_rules.h"

namespace pel_mora {
namespace {

struct BatteryCase {
  const char* situation;
  PowerStatusReading reading;
  bool has_battery;
  bool is_charging;
  int32_t percent;
  const char* power_source;
  const char* status;
};

class BatteryTableTest : public ::testing::TestWithParam<BatteryCase> {};

TEST_P(BatteryTableTest, MapsThePowerStatus) {
  const BatteryCase& expected = GetParam();
  const BatteryReport report = DescribeBattery(expected.reading);
  EXPECT_EQ(report.has_battery, expected.has_battery);
  EXPECT_EQ(report.is_charging, expected.is_charging);
  EXPECT_EQ(report.battery_percent, expected.percent);
  EXPECT_EQ(report.power_source, expected.power_source);
  EXPECT_EQ(report.battery_status, expected.status);
}

// Fields: AC line, battery flag, percent, saver flag, seconds left.
INSTANTIATE_TEST_SUITE_P(
    Cases, BatteryTableTest,
    ::testing::Values(
        BatteryCase{"desktop", {1, 128, 255, 0, 0xFFFFFFFFu}, false, true, -1, "AC Power (Mains)",
                    "No Battery (Desktop PC)"},
        // The desktop rule wins over whatever the AC line says; an unknown flag (255) has the
        // charging bit set.
        BatteryCase{"everything unknown", {255, 255, 255, 0, 0xFFFFFFFFu}, false, true, -1, "AC Power (Mains)",
                    "No Battery (Desktop PC)"},
        BatteryCase{"on battery at 20", {0, 0, 20, 0, 3600}, true, false, 20, "Battery Power", "Low Battery"},
        BatteryCase{"on battery at 15", {0, 0, 15, 0, 3600}, true, false, 15, "Battery Power",
                    "Critical (Low Battery)"},
        BatteryCase{"on battery at 16", {0, 0, 16, 0, 3600}, true, false, 16, "Battery Power", "Low Battery"},
        BatteryCase{"on battery at 25", {0, 0, 25, 0, 3600}, true, false, 25, "Battery Power", "Low Battery"},
        BatteryCase{"on battery at 26", {0, 0, 26, 0, 3600}, true, false, 26, "Battery Power", "Discharging"},
        BatteryCase{"on battery at 89", {0, 0, 89, 0, 3600}, true, false, 89, "Battery Power", "Discharging"},
        BatteryCase{"on battery at 90", {0, 0, 90, 0, 3600}, true, false, 90, "Battery Power", "High Capacity"},
        BatteryCase{"plugged in at 100", {1, 0, 100, 0, 0xFFFFFFFFu}, true, true, 100, "AC Power (Plugged In)",
                    "Fully Charged"},
        BatteryCase{"plugged in at 40", {1, 8, 40, 0, 0xFFFFFFFFu}, true, true, 40, "AC Power (Plugged In)",
                    "Charging"},
        // The charging bit alone counts as charging; an unknown percentage is below 100.
        BatteryCase{"charging bit on battery, percent unknown", {0, 8, 255, 0, 0xFFFFFFFFu}, true, true, -1,
                    "Battery Power", "Charging"},
        BatteryCase{"line unknown at 50", {255, 0, 50, 0, 0xFFFFFFFFu}, true, false, 50, "Unknown", "Discharging"},
        BatteryCase{"on battery, percent unknown", {0, 0, 255, 0, 0xFFFFFFFFu}, true, false, -1, "Battery Power",
                    "Critical (Low Battery)"}),
    [](const ::testing::TestParamInfo<BatteryCase>& info) {
      std::string name;
      for (const char* c = info.param.situation; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

TEST(BatteryTest, FailedQueryAndRemainingTimeAndSaver) {
  const BatteryReport failed = DescribeBattery(std::nullopt);
  EXPECT_FALSE(failed.has_battery);
  EXPECT_TRUE(failed.is_charging);
  EXPECT_EQ(failed.battery_percent, -1);
  EXPECT_EQ(failed.power_source, "AC Power");
  EXPECT_EQ(failed.battery_status, "No Battery");
  EXPECT_EQ(failed.battery_life_remaining_seconds, -1);
  EXPECT_FALSE(failed.is_battery_saver);

  const BatteryReport known = DescribeBattery(PowerStatusReading{0, 0, 50, 1, 5400});
  EXPECT_EQ(known.battery_life_remaining_seconds, 5400);
  EXPECT_TRUE(known.is_battery_saver);
  const BatteryReport unknown = DescribeBattery(PowerStatusReading{0, 0, 50, 0, 0xFFFFFFFFu});
  EXPECT_EQ(unknown.battery_life_remaining_seconds, -1);
  EXPECT_FALSE(unknown.is_battery_saver);
}

TEST(AdapterTablesTest, TypeStatusAndListing) {
  const std::vector<std::pair<uint32_t, const char*>> types = {
      {71, "Wi-Fi"}, {6, "Ethernet"},       {24, "Loopback"},      {243, "Cellular"}, {244, "Cellular"},
      {131, "VPN / Virtual"}, {23, "VPN / Virtual"}, {1, "Other"}, {53, "Other"}};
  for (const auto& [type, name] : types) {
    EXPECT_EQ(AdapterTypeName(type), name) << type;
  }
  const std::vector<std::pair<uint32_t, const char*>> statuses = {
      {1, "Connected"},    {5, "Dormant"},      {3, "Testing"},      {2, "Disconnected"},
      {4, "Disconnected"}, {6, "Disconnected"}, {7, "Disconnected"}, {0, "Disconnected"}};
  for (const auto& [status, name] : statuses) {
    EXPECT_EQ(AdapterStatusName(status), name) << status;
  }
  EXPECT_TRUE(IsListedAdapter(24, 1));
  EXPECT_FALSE(IsListedAdapter(24, 2));
  EXPECT_TRUE(IsListedAdapter(6, 2));
  EXPECT_TRUE(IsListedAdapter(71, 7));
}

TEST(ArchitectureTableTest, NamesEachCode) {
  const std::vector<std::pair<uint16_t, const char*>> cases = {
      {12, "ARM64 (64-bit)"}, {0, "x86 (32-bit)"}, {5, "ARM (32-bit)"}, {9, "x64 (64-bit)"},
      {6, "x64 (64-bit)"},    {0xFFFF, "x64 (64-bit)"}};
  for (const auto& [code, name] : cases) {
    EXPECT_EQ(ArchitectureName(code), name) << code;
  }
}

TEST(ProcessorBrandNameTest, TrimsSpacesOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  Intel(R) Core(TM) i7  ", "Intel(R) Core(TM) i7"},
      {"AMD Ryzen", "AMD Ryzen"},
      {"\tTabbed ", "\tTabbed"},
      {"", "Unknown Processor"},
      {"   ", "   "},
  };
  for (const auto& [registered, shown] : cases) {
    EXPECT_EQ(ProcessorBrandName(registered), shown) << '"' << registered << '"';
  }
}

TEST(HardwareAddressTest, OnlySixBytesAreFormatted) {
  const uint8_t bytes[8] = {0x00, 0x1a, 0x2B, 0xc3, 0xff, 0x09, 0x10, 0x20};
  EXPECT_EQ(FormatHardwareAddress(bytes, 6), "00:1A:2B:C3:FF:09");
  EXPECT_EQ(FormatHardwareAddress(bytes, 8), "");
  EXPECT_EQ(FormatHardwareAddress(bytes, 0), "");
  EXPECT_EQ(FormatHardwareAddress(nullptr, 6), "");
}

TEST(ProcessorLoadTest, FirstReadingIsZeroThenLoadSinceThePrevious) {
  ProcessorLoadSample sample;
  EXPECT_EQ(sample.Update(ProcessorTimes{1000, 3000, 2000}), 0.0);
  // 400 ticks of kernel (300 of them idle) and 600 of user: 700 busy out of 1000.
  EXPECT_DOUBLE_EQ(sample.Update(ProcessorTimes{1300, 3400, 2600}), 70.0);
  // No time passed: 0, and the reading still becomes the baseline.
  EXPECT_EQ(sample.Update(ProcessorTimes{1300, 3400, 2600}), 0.0);
  // All idle.
  EXPECT_EQ(sample.Update(ProcessorTimes{1800, 3900, 2600}), 0.0);
  // Idle beyond the total (counters out of step) gives 0, never a negative load.
  EXPECT_EQ(sample.Update(ProcessorTimes{2800, 4000, 2600}), 0.0);
  // Fully busy.
  EXPECT_DOUBLE_EQ(sample.Update(ProcessorTimes{2800, 4100, 2700}), 100.0);
}

TEST(ProcessorLoadTest, FailedReadingKeepsThePreviousSample) {
  ProcessorLoadSample sample;
  EXPECT_EQ(sample.Update(std::nullopt), 0.0);
  EXPECT_EQ(sample.Update(ProcessorTimes{0, 100, 100}), 0.0) << "a failed reading is not a sample";
  EXPECT_EQ(sample.Update(std::nullopt), 0.0);
  EXPECT_DOUBLE_EQ(sample.Update(ProcessorTimes{50, 200, 200}), 75.0);
}

constexpr int64_t kSecond = 1'000'000'000;

TEST(NetworkSampleTest, FirstReadingHasTotalsButNoRates) {
  NetworkSample sample;
  const NetworkRates rates = sample.Update({{1, 6, 1000, 500}, {2, 24, 70, 70}, {3, 71, 10, 20}}, 5 * kSecond);
  EXPECT_EQ(rates.total_bytes_received, 1010u) << "the loopback stays out of the totals";
  EXPECT_EQ(rates.total_bytes_sent, 520u);
  EXPECT_EQ(rates.total.download_bytes_per_second, 0);
  EXPECT_EQ(rates.total.upload_bytes_per_second, 0);
  ASSERT_EQ(rates.interfaces.size(), 3u);
  for (const TransferRates& interface_rates : rates.interfaces) {
    EXPECT_EQ(interface_rates.download_bytes_per_second, 0);
    EXPECT_EQ(interface_rates.upload_bytes_per_second, 0);
  }
}

TEST(NetworkSampleTest, RatesOverTheElapsedTime) {
  NetworkSample sample;
  sample.Update({{1, 6, 1000, 500}, {2, 24, 0, 0}}, 0);
  const NetworkRates rates = sample.Update({{1, 6, 4000, 800}, {2, 24, 900, 300}}, 2 * kSecond);
  ASSERT_EQ(rates.interfaces.size(), 2u);
  EXPECT_EQ(rates.interfaces[0].download_bytes_per_second, 1500);
  EXPECT_EQ(rates.interfaces[0].upload_bytes_per_second, 150);
  // A loopback has rates of its own, but they are not in the totals.
  EXPECT_EQ(rates.interfaces[1].download_bytes_per_second, 450);
  EXPECT_EQ(rates.total.download_bytes_per_second, 1500);
  EXPECT_EQ(rates.total.upload_bytes_per_second, 150);
  // Fractions are truncated.
  const NetworkRates third = sample.Update({{1, 6, 4007, 803}, {2, 24, 900, 300}}, 2 * kSecond + 2 * kSecond);
  EXPECT_EQ(third.interfaces[0].download_bytes_per_second, 3);
  EXPECT_EQ(third.interfaces[0].upload_bytes_per_second, 1);
}

TEST(NetworkSampleTest, ReadingsTooCloseGiveNoRatesAndBecomeTheBaseline) {
  NetworkSample sample;
  sample.Update({{1, 6, 0, 0}}, 0);
  // 20 ms later: no rates.
  NetworkRates rates = sample.Update({{1, 6, 1000, 1000}}, kSecond / 50);
  EXPECT_EQ(rates.interfaces[0].download_bytes_per_second, 0);
  EXPECT_EQ(rates.total.download_bytes_per_second, 0);
  // Exactly 50 ms is not beyond the threshold either.
  rates = sample.Update({{1, 6, 2000, 2000}}, kSecond / 50 + kSecond / 20);
  EXPECT_EQ(rates.total.upload_bytes_per_second, 0);
  // One second after the last reading, not the first.
  rates = sample.Update({{1, 6, 2500, 2100}}, kSecond / 50 + kSecond / 20 + kSecond);
  EXPECT_EQ(rates.interfaces[0].download_bytes_per_second, 500);
  EXPECT_EQ(rates.total.upload_bytes_per_second, 100);
}

TEST(NetworkSampleTest, CountersGoingBackwardsAndNewInterfacesGiveZero) {
  NetworkSample sample;
  sample.Update({{1, 6, 5000, 5000}, {2, 71, 100, 100}}, 0);
  // Interface 1 was reset; interface 3 is new; the total went down.
  const NetworkRates rates = sample.Update({{1, 6, 10, 6000}, {2, 71, 300, 100}, {3, 6, 900, 900}}, kSecond);
  ASSERT_EQ(rates.interfaces.size(), 3u);
  EXPECT_EQ(rates.interfaces[0].download_bytes_per_second, 0);
  EXPECT_EQ(rates.interfaces[0].upload_bytes_per_second, 1000);
  EXPECT_EQ(rates.interfaces[1].download_bytes_per_second, 200);
  EXPECT_EQ(rates.interfaces[2].download_bytes_per_second, 0);
  EXPECT_EQ(rates.total.download_bytes_per_second, 0) << "1210 received in all, down from 5100";
  EXPECT_EQ(rates.total.upload_bytes_per_second, 1900);
}

TEST(NetworkSampleTest, HugeJumpSaturatesInsteadOfWrapping) {
  NetworkSample sample;
  sample.Update({{1, 6, 0, 0}}, 0);
  const uint64_t huge = std::numeric_limits<uint64_t>::max() - 1;
  const NetworkRates rates = sample.Update({{1, 6, huge, 0}}, kSecond / 10);
  EXPECT_EQ(rates.interfaces[0].download_bytes_per_second, std::numeric_limits<int64_t>::max());
}

}  // namespace
}  // namespace pel_mora
