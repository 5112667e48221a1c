// Real snapshots of the test prefix's machine through the dispatcher, as the interface asks for
// them. The first snapshot of the process must carry no rates, so this executable takes no
// other snapshot before it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/method_dispatcher.h"
#include "plugin/system_metrics/system_metrics.h"
#include "tests/plugin/recording_method_result.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

enum class WireType { kBool, kInt32, kInt64, kDouble, kString, kList, kMap };

const char* Name(WireType type) {
  switch (type) {
    case WireType::kBool:
      return "bool";
    case WireType::kInt32:
      return "int32";
    case WireType::kInt64:
      return "int64";
    case WireType::kDouble:
      return "double";
    case WireType::kString:
      return "string";
    case WireType::kList:
      return "list";
    case WireType::kMap:
      return "map";
  }
  return "?";
}

bool Holds(const EncodableValue& value, WireType type) {
  switch (type) {
    case WireType::kBool:
      return std::holds_alternative<bool>(value);
    case WireType::kInt32:
      return std::holds_alternative<int32_t>(value);
    case WireType::kInt64:
      return std::holds_alternative<int64_t>(value);
    case WireType::kDouble:
      return std::holds_alternative<double>(value);
    case WireType::kString:
      return std::holds_alternative<std::string>(value);
    case WireType::kList:
      return std::holds_alternative<EncodableList>(value);
    case WireType::kMap:
      return std::holds_alternative<EncodableMap>(value);
  }
  return false;
}

using Schema = std::map<std::string, WireType>;

const Schema kTop = {{"cpu", WireType::kMap},     {"memory", WireType::kMap}, {"battery", WireType::kMap},
                     {"network", WireType::kMap}, {"os", WireType::kMap},     {"timestamp", WireType::kInt64}};
const Schema kCpu = {{"usagePercent", WireType::kDouble}, {"brandName", WireType::kString},
                     {"logicalCores", WireType::kInt32},  {"processCount", WireType::kInt32},
                     {"threadCount", WireType::kInt32},   {"uptimeSeconds", WireType::kInt64}};
const Schema kMemory = {
    {"totalPhysicalBytes", WireType::kInt64}, {"usedPhysicalBytes", WireType::kInt64},
    {"freePhysicalBytes", WireType::kInt64},  {"usagePercent", WireType::kDouble},
    {"totalPageFileBytes", WireType::kInt64}, {"usedPageFileBytes", WireType::kInt64},
    {"freePageFileBytes", WireType::kInt64},  {"totalVirtualBytes", WireType::kInt64},
    {"usedVirtualBytes", WireType::kInt64},   {"freeVirtualBytes", WireType::kInt64}};
const Schema kBattery = {{"hasBattery", WireType::kBool},      {"isCharging", WireType::kBool},
                         {"batteryPercent", WireType::kInt32}, {"powerSource", WireType::kString},
                         {"batteryStatus", WireType::kString}, {"batteryLifeRemainingSec", WireType::kInt64},
                         {"isBatterySaver", WireType::kBool}};
const Schema kNetwork = {{"adapters", WireType::kList},
                         {"downloadSpeedBps", WireType::kInt64},
                         {"uploadSpeedBps", WireType::kInt64},
                         {"totalBytesReceived", WireType::kInt64},
                         {"totalBytesSent", WireType::kInt64}};
const Schema kAdapter = {{"name", WireType::kString},           {"alias", WireType::kString},
                         {"type", WireType::kString},           {"status", WireType::kString},
                         {"linkSpeedBps", WireType::kInt64},    {"downloadSpeedBps", WireType::kInt64},
                         {"uploadSpeedBps", WireType::kInt64},  {"bytesReceived", WireType::kInt64},
                         {"bytesSent", WireType::kInt64},       {"ipv4", WireType::kString},
                         {"mac", WireType::kString}};
const Schema kOs = {{"osName", WireType::kString},       {"osVersion", WireType::kString},
                    {"buildNumber", WireType::kString},  {"computerName", WireType::kString},
                    {"userName", WireType::kString},     {"architecture", WireType::kString}};

// Exactly the schema's keys, each with its wire type.
void ExpectShape(const EncodableMap& map, const Schema& schema, const std::string& where) {
  EXPECT_EQ(map.size(), schema.size()) << where << " has other keys than expected";
  for (const auto& [key, type] : schema) {
    const auto found = map.find(EncodableValue(key));
    if (found == map.end()) {
      ADD_FAILURE() << where << " lacks \"" << key << '"';
      continue;
    }
    EXPECT_TRUE(Holds(found->second, type)) << where << '.' << key << " is not " << Name(type);
  }
}

const EncodableMap& Section(const EncodableMap& map, const char* key) {
  static const EncodableMap empty;
  const auto found = map.find(EncodableValue(key));
  const auto* section = found == map.end() ? nullptr : std::get_if<EncodableMap>(&found->second);
  return section != nullptr ? *section : empty;
}

const EncodableValue& At(const EncodableMap& map, const char* key) {
  static const EncodableValue null_value;
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? null_value : found->second;
}

EncodableMap Snapshot() {
  testing::RecordingResult recording;
  const flutter::MethodCall<> call("getSystemMetrics", nullptr);
  HandleMethodCall(call, std::move(recording.result), nullptr);
  EXPECT_TRUE(recording.record->WaitForCompletion()) << "waited for the metrics worker's reply";
  const testing::RecordedReply reply = recording.record->reply();
  EXPECT_EQ(reply.kind, testing::CompletionKind::kSuccess) << reply.error_code << ' ' << reply.error_message;
  const auto* map = std::get_if<EncodableMap>(&reply.value);
  EXPECT_NE(map, nullptr) << "the reply is not a map";
  return map != nullptr ? *map : EncodableMap();
}

void ExpectNoNetworkRates(const EncodableMap& snapshot, const char* which) {
  const EncodableMap& network = Section(snapshot, "network");
  EXPECT_EQ(At(network, "downloadSpeedBps"), EncodableValue(int64_t{0})) << which;
  EXPECT_EQ(At(network, "uploadSpeedBps"), EncodableValue(int64_t{0})) << which;
  const auto* adapters = std::get_if<EncodableList>(&At(network, "adapters"));
  ASSERT_NE(adapters, nullptr);
  for (const EncodableValue& adapter : *adapters) {
    const auto* fields = std::get_if<EncodableMap>(&adapter);
    ASSERT_NE(fields, nullptr);
    EXPECT_EQ(At(*fields, "downloadSpeedBps"), EncodableValue(int64_t{0})) << which;
    EXPECT_EQ(At(*fields, "uploadSpeedBps"), EncodableValue(int64_t{0})) << which;
  }
}

TEST(SystemMetricsTest, FirstSnapshotHasEveryKeyWithItsWireTypeAndNoRates) {
  const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const EncodableMap first = Snapshot();
  ExpectShape(first, kTop, "reply");
  ExpectShape(Section(first, "cpu"), kCpu, "cpu");
  ExpectShape(Section(first, "memory"), kMemory, "memory");
  ExpectShape(Section(first, "battery"), kBattery, "battery");
  ExpectShape(Section(first, "network"), kNetwork, "network");
  ExpectShape(Section(first, "os"), kOs, "os");
  const auto* adapters = std::get_if<EncodableList>(&At(Section(first, "network"), "adapters"));
  ASSERT_NE(adapters, nullptr);
  for (const EncodableValue& adapter : *adapters) {
    const auto* fields = std::get_if<EncodableMap>(&adapter);
    ASSERT_NE(fields, nullptr) << "an adapter is not a map";
    ExpectShape(*fields, kAdapter, "adapter");
  }

  EXPECT_EQ(At(Section(first, "cpu"), "usagePercent"), EncodableValue(0.0)) << "the first load has no baseline";
  ExpectNoNetworkRates(first, "first snapshot");
  const auto* timestamp = std::get_if<int64_t>(&At(first, "timestamp"));
  ASSERT_NE(timestamp, nullptr);
  EXPECT_GE(*timestamp, before);

  // Values the test prefix is known to give: no battery, the product name it registers.
  const EncodableMap& battery = Section(first, "battery");
  EXPECT_EQ(At(battery, "hasBattery"), EncodableValue(false));
  EXPECT_EQ(At(battery, "batteryStatus"), EncodableValue("No Battery (Desktop PC)"));
  EXPECT_EQ(At(battery, "powerSource"), EncodableValue("AC Power (Mains)"));
  const EncodableMap& memory = Section(first, "memory");
  EXPECT_GT(std::get<int64_t>(At(memory, "totalPhysicalBytes")), 0);
  EXPECT_EQ(std::get<int64_t>(At(memory, "totalPhysicalBytes")),
            std::get<int64_t>(At(memory, "usedPhysicalBytes")) + std::get<int64_t>(At(memory, "freePhysicalBytes")));
  const EncodableMap& cpu = Section(first, "cpu");
  EXPECT_GT(std::get<int32_t>(At(cpu, "logicalCores")), 0);
  EXPECT_GT(std::get<int32_t>(At(cpu, "processCount")), 0) << "the test itself is a process";
  EXPECT_GE(std::get<int32_t>(At(cpu, "threadCount")), std::get<int32_t>(At(cpu, "processCount")));
  EXPECT_FALSE(std::get<std::string>(At(cpu, "brandName")).empty());
  EXPECT_EQ(At(Section(first, "os"), "architecture"), EncodableValue("x64 (64-bit)"));
  EXPECT_FALSE(std::get<std::string>(At(Section(first, "os"), "osName")).empty());

  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const EncodableMap second = Snapshot();
  ExpectShape(second, kTop, "second reply");
  EXPECT_EQ(At(second, "os"), At(first, "os")) << "the operating system section is built once";
}

// The network readings of the two tests below run on a clock of their own, far beyond the steady
// clock's readings, so the intervals between them are exactly what the test says.
int64_t g_fake_nanoseconds = 0;

int64_t FakeClock() {
  return g_fake_nanoseconds;
}

void StartFakeClock() {
  g_fake_nanoseconds = SteadyClockNanoseconds() + int64_t{3600} * 1'000'000'000;
}

TEST(SystemMetricsTest, NetworkReadingsTwentyMillisecondsApartReportNoRates) {
  StartFakeClock();
  NetworkInfo(FakeClock);
  g_fake_nanoseconds += 20'000'000;
  EncodableMap snapshot;
  snapshot[EncodableValue("network")] = EncodableValue(NetworkInfo(FakeClock));
  ExpectNoNetworkRates(snapshot, "reading 20 ms after the previous one");
}

TEST(SystemMetricsTest, NetworkRatesAreTheCounterGrowthPerSecond) {
  StartFakeClock();
  const EncodableMap first = NetworkInfo(FakeClock);
  g_fake_nanoseconds += 2'000'000'000;
  const EncodableMap second = NetworkInfo(FakeClock);
  // Over two seconds of the fake clock the rate is half of what the totals grew by.
  const int64_t received = std::get<int64_t>(At(second, "totalBytesReceived")) -
                           std::get<int64_t>(At(first, "totalBytesReceived"));
  const int64_t sent =
      std::get<int64_t>(At(second, "totalBytesSent")) - std::get<int64_t>(At(first, "totalBytesSent"));
  EXPECT_EQ(At(second, "downloadSpeedBps"), EncodableValue(received >= 0 ? received / 2 : 0));
  EXPECT_EQ(At(second, "uploadSpeedBps"), EncodableValue(sent >= 0 ? sent / 2 : 0));
}

}  // namespace
}  // namespace pel_mora
