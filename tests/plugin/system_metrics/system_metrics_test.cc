// Real snapshots of the test prefix's machine through the dispatcher, as the interface asks for
// them. The first snapshot of the process must carry no rates, so this executable takes no
// other snapshot before it.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/method_dispatcher.h"
#include "plugin/registry_key.h"
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

// Sets the operating system's display version in the test prefix's registry for as long as it
// lives, then puts back what was there (or nothing).
class DisplayVersionChange {
 public:
  explicit DisplayVersionChange(const std::wstring& value) {
    if (!key_.Open(HKEY_LOCAL_MACHINE, kKey, KEY_QUERY_VALUE | KEY_SET_VALUE)) {
      throw std::runtime_error("RegOpenKeyExW of the current version key failed");
    }
    previous_ = Read();
    Write(value);
  }
  ~DisplayVersionChange() {
    if (previous_) {
      Write(*previous_);
    } else {
      RegDeleteValueW(key_.Get(), kValue);
    }
  }
  DisplayVersionChange(const DisplayVersionChange&) = delete;
  DisplayVersionChange& operator=(const DisplayVersionChange&) = delete;

  std::optional<std::wstring> Read() const {
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key_.Get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return std::nullopt;
    }
    return std::wstring(buffer);
  }

 private:
  static constexpr wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  static constexpr wchar_t kValue[] = L"DisplayVersion";

  void Write(const std::wstring& value) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key_.Get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) !=
        ERROR_SUCCESS) {
      throw std::runtime_error("RegSetValueExW of the display version failed");
    }
  }

  RegistryKey key_;
  std::optional<std::wstring> previous_;
};

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

  // The operating system section is built once, by the first snapshot: a display version that
  // changes after it does not show in the next one.
  const EncodableMap second = [] {
    DisplayVersionChange change(L"changed after the first snapshot");
    EXPECT_EQ(change.Read(), L"changed after the first snapshot");
    return Snapshot();
  }();
  ExpectShape(second, kTop, "second reply");
  EXPECT_EQ(At(second, "os"), At(first, "os")) << "the operating system section was built again";
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

// Owns a Winsock socket.
class Socket {
 public:
  explicit Socket(SOCKET handle) : handle_(handle) {
    if (handle_ == INVALID_SOCKET) {
      throw std::runtime_error("socket or accept failed: " + std::to_string(WSAGetLastError()));
    }
  }
  ~Socket() { closesocket(handle_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  SOCKET Get() const { return handle_; }

 private:
  SOCKET handle_;
};

// Winsock started for the lifetime of the object.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      throw std::runtime_error("WSAStartup failed");
    }
  }
  ~WinsockSession() { WSACleanup(); }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

// Sends `bytes` bytes from one socket to another over 127.0.0.1 and reads them all back, so the
// loopback interface's counters grow by at least that much in each direction.
void SendOverLoopback(size_t bytes) {
  const WinsockSession winsock;
  const Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      listen(listener.Get(), 1) != 0) {
    throw std::runtime_error("bind, getsockname or listen failed: " + std::to_string(WSAGetLastError()));
  }
  const Socket sender(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (connect(sender.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    throw std::runtime_error("connect failed: " + std::to_string(WSAGetLastError()));
  }
  const Socket receiver(accept(listener.Get(), nullptr, nullptr));
  // A chunk at a time, each read back before the next is sent, so no buffer ever fills.
  constexpr size_t kChunk = 16 << 10;
  std::vector<char> chunk(kChunk, 'x');
  for (size_t sent = 0; sent < bytes; sent += kChunk) {
    if (send(sender.Get(), chunk.data(), static_cast<int>(kChunk), 0) != static_cast<int>(kChunk)) {
      throw std::runtime_error("send failed: " + std::to_string(WSAGetLastError()));
    }
    for (size_t received = 0; received < kChunk;) {
      const int count = recv(receiver.Get(), chunk.data(), static_cast<int>(kChunk - received), 0);
      if (count <= 0) {
        throw std::runtime_error("recv failed: " + std::to_string(WSAGetLastError()));
      }
      received += static_cast<size_t>(count);
    }
  }
}

constexpr size_t kLoopbackBytes = size_t{1} << 20;

// The listed loopback adapter of a network section; the test prefix has one that is up.
const EncodableMap& LoopbackAdapter(const EncodableMap& network) {
  static const EncodableMap none;
  const auto* adapters = std::get_if<EncodableList>(&At(network, "adapters"));
  if (adapters != nullptr) {
    for (const EncodableValue& adapter : *adapters) {
      const auto* fields = std::get_if<EncodableMap>(&adapter);
      if (fields != nullptr && At(*fields, "type") == EncodableValue("Loopback")) {
        return *fields;
      }
    }
  }
  ADD_FAILURE() << "no loopback adapter is listed";
  return none;
}

int64_t Counter(const EncodableMap& map, const char* key) {
  const auto* value = std::get_if<int64_t>(&At(map, key));
  EXPECT_NE(value, nullptr) << key;
  return value != nullptr ? *value : 0;
}

// The totals count every listed adapter but the loopback: each of them is one interface row.
void ExpectTotalsWithoutTheLoopback(const EncodableMap& network, const char* which) {
  int64_t received = 0;
  int64_t sent = 0;
  for (const EncodableValue& adapter : std::get<EncodableList>(At(network, "adapters"))) {
    const auto& fields = std::get<EncodableMap>(adapter);
    if (At(fields, "type") != EncodableValue("Loopback")) {
      received += Counter(fields, "bytesReceived");
      sent += Counter(fields, "bytesSent");
    }
  }
  EXPECT_EQ(Counter(network, "totalBytesReceived"), received) << which;
  EXPECT_EQ(Counter(network, "totalBytesSent"), sent) << which;
}

TEST(SystemMetricsTest, NetworkReadingsTwentyMillisecondsApartReportNoRates) {
  StartFakeClock();
  const EncodableMap first = NetworkInfo(FakeClock);
  SendOverLoopback(kLoopbackBytes);
  g_fake_nanoseconds += 20'000'000;
  EncodableMap snapshot;
  snapshot[EncodableValue("network")] = EncodableValue(NetworkInfo(FakeClock));
  // The counters grew, and still there is no rate over so short an interval.
  const EncodableMap& second = Section(snapshot, "network");
  EXPECT_GE(Counter(LoopbackAdapter(second), "bytesReceived") - Counter(LoopbackAdapter(first), "bytesReceived"),
            static_cast<int64_t>(kLoopbackBytes));
  ExpectNoNetworkRates(snapshot, "reading 20 ms after the previous one");
}

TEST(SystemMetricsTest, NetworkRatesAreTheCounterGrowthPerSecond) {
  StartFakeClock();
  const EncodableMap first = NetworkInfo(FakeClock);
  SendOverLoopback(kLoopbackBytes);
  g_fake_nanoseconds += 2'000'000'000;
  const EncodableMap second = NetworkInfo(FakeClock);
  // The loopback carried at least what the test sent (other programs may add to it); over two
  // seconds of the fake clock its rates are half of what its counters grew by.
  const EncodableMap& loopback_before = LoopbackAdapter(first);
  const EncodableMap& loopback_after = LoopbackAdapter(second);
  const int64_t received = Counter(loopback_after, "bytesReceived") - Counter(loopback_before, "bytesReceived");
  const int64_t sent = Counter(loopback_after, "bytesSent") - Counter(loopback_before, "bytesSent");
  ASSERT_GE(received, static_cast<int64_t>(kLoopbackBytes)) << "the loopback's counters missed what the test sent";
  ASSERT_GE(sent, static_cast<int64_t>(kLoopbackBytes)) << "the loopback's counters missed what the test sent";
  EXPECT_EQ(Counter(loopback_after, "downloadSpeedBps"), received / 2);
  EXPECT_EQ(Counter(loopback_after, "uploadSpeedBps"), sent / 2);
  ExpectTotalsWithoutTheLoopback(first, "first reading");
  ExpectTotalsWithoutTheLoopback(second, "second reading");
}

}  // namespace
}  // namespace pel_mora
