// The metrics snapshot from the system's own counters. Every value comes from one Windows call;
// a call that fails leaves its section's defaults, and none becomes an error reply. The rules
// that turn raw values into the reply (tables, rates) live in metrics_rules.cc.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "plugin/file_handle.h"
#include "plugin/operations.h"
#include "plugin/registry_key.h"
#include "plugin/string_conversion.h"
#include "plugin/system_metrics/system_metrics.h"
#include "plugin/system_metrics/metrics_rules.h"

namespace pel_mora {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// One lock for the processor and the network samples; each computation takes it once for its
// own read-and-replace and never while another section is being built.
std::mutex g_metrics_mutex;
ProcessorLoadSample g_cpu_sample;
NetworkSample g_net_sample;

struct CpuStaticInfo {
  std::string brand_name;
  int32_t logical_cores = 0;
};

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kProcessorKey[] = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr DWORD kRegistryTextBytes = 512;

// A string value of at most 512 bytes, or nothing. The buffer has one more character than the
// query may fill, so a value stored without its terminating NUL still ends inside the buffer.
std::optional<std::wstring> ReadRegistryText(HKEY key, const wchar_t* name) {
  wchar_t buffer[kRegistryTextBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  DWORD size = kRegistryTextBytes;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

const CpuStaticInfo& CpuStatic() {
  // A function-local static: built once, and other threads wait until it is.
  static const CpuStaticInfo g_cpu_static_info = [] {
    CpuStaticInfo info;
    std::string registered;
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kProcessorKey, KEY_READ)) {
      if (auto name = ReadRegistryText(key.Get(), L"ProcessorNameString")) {
        registered = WideToUtf8(*name);
      }
    }
    info.brand_name = ProcessorBrandName(registered);
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    info.logical_cores = static_cast<int32_t>(system.dwNumberOfProcessors);
    return info;
  }();
  return g_cpu_static_info;
}

double ProcessorLoad() {
  std::optional<ProcessorTimes> times;
  FILETIME idle{};
  FILETIME kernel{};
  FILETIME user{};
  if (GetSystemTimes(&idle, &kernel, &user)) {
    times = ProcessorTimes{FileTimeTicks(idle), FileTimeTicks(kernel), FileTimeTicks(user)};
  }
  std::lock_guard lock(g_metrics_mutex);
  return g_cpu_sample.Update(times);
}

struct ProcessCounts {
  int32_t processes = 0;
  int32_t threads = 0;
};

ProcessCounts CountProcesses() {
  ProcessCounts counts;
  // A failed snapshot is INVALID_HANDLE_VALUE, the owner's empty state.
  const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) {
    return counts;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.Get(), &entry)) {
    return counts;
  }
  do {
    ++counts.processes;
    counts.threads += static_cast<int32_t>(entry.cntThreads);
  } while (Process32NextW(snapshot.Get(), &entry));
  return counts;
}

EncodableValue Int64Value(uint64_t value) {
  return EncodableValue(static_cast<int64_t>(value));
}

// Owns the interface table GetIfTable2 allocates; FreeMibTable gives it back.
class InterfaceTable {
 public:
  InterfaceTable() {
    if (GetIfTable2(&table_) != NO_ERROR) {
      table_ = nullptr;
    }
  }
  ~InterfaceTable() {
    if (table_ != nullptr) {
      FreeMibTable(table_);
    }
  }
  InterfaceTable(const InterfaceTable&) = delete;
  InterfaceTable& operator=(const InterfaceTable&) = delete;

  const MIB_IF_TABLE2* Get() const { return table_; }

 private:
  MIB_IF_TABLE2* table_ = nullptr;
};

struct AdapterAddresses {
  std::map<std::wstring, std::string> ipv4_by_name;
  std::map<std::wstring, std::string> mac_by_name;
};

// The first IPv4 address and the hardware address of each adapter, by friendly name (a later
// adapter of the same name wins).
AdapterAddresses ReadAdapterAddresses() {
  AdapterAddresses addresses;
  std::vector<unsigned char> buffer(15000);
  ULONG size = static_cast<ULONG>(buffer.size());
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  ULONG result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, first, &size);
  if (result == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, first, &size);
  }
  if (result != NO_ERROR) {
    return addresses;
  }
  for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
    if (adapter->FriendlyName == nullptr) {
      continue;
    }
    const std::wstring name = adapter->FriendlyName;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* socket_address = unicast->Address.lpSockaddr;
      if (socket_address == nullptr || socket_address->sa_family != AF_INET) {
        continue;
      }
      char text[22] = {};
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(socket_address);
      if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof(text)) != nullptr) {
        addresses.ipv4_by_name[name] = text;
      }
      break;
    }
    const std::string mac = FormatHardwareAddress(adapter->PhysicalAddress, adapter->PhysicalAddressLength);
    if (!mac.empty()) {
      addresses.mac_by_name[name] = mac;
    }
  }
  return addresses;
}

std::string FindOrEmpty(const std::map<std::wstring, std::string>& map, const std::wstring& name) {
  const auto entry = map.find(name);
  return entry == map.end() ? std::string() : entry->second;
}

}  // namespace

EncodableMap CpuInfo() {
  const CpuStaticInfo& static_info = CpuStatic();
  const double usage = ProcessorLoad();
  const ProcessCounts counts = CountProcesses();
  return EncodableMap{
      {EncodableValue("usagePercent"), EncodableValue(usage)},
      {EncodableValue("brandName"), EncodableValue(static_info.brand_name)},
      {EncodableValue("logicalCores"), EncodableValue(static_info.logical_cores)},
      {EncodableValue("processCount"), EncodableValue(counts.processes)},
      {EncodableValue("threadCount"), EncodableValue(counts.threads)},
      {EncodableValue("uptimeSeconds"), EncodableValue(static_cast<int64_t>(GetTickCount64() / 1000))},
  };
}

EncodableMap MemoryInfo() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) {
    status = MEMORYSTATUSEX{};
  }
  return EncodableMap{
      {EncodableValue("totalPhysicalBytes"), Int64Value(status.ullTotalPhys)},
      {EncodableValue("usedPhysicalBytes"), Int64Value(status.ullTotalPhys - status.ullAvailPhys)},
      {EncodableValue("freePhysicalBytes"), Int64Value(status.ullAvailPhys)},
      {EncodableValue("usagePercent"), EncodableValue(static_cast<double>(status.dwMemoryLoad))},
      {EncodableValue("totalPageFileBytes"), Int64Value(status.ullTotalPageFile)},
      {EncodableValue("usedPageFileBytes"), Int64Value(status.ullTotalPageFile - status.ullAvailPageFile)},
      {EncodableValue("freePageFileBytes"), Int64Value(status.ullAvailPageFile)},
      {EncodableValue("totalVirtualBytes"), Int64Value(status.ullTotalVirtual)},
      {EncodableValue("usedVirtualBytes"), Int64Value(status.ullTotalVirtual - status.ullAvailVirtual)},
      {EncodableValue("freeVirtualBytes"), Int64Value(status.ullAvailVirtual)},
  };
}

EncodableMap BatteryInfo() {
  std::optional<PowerStatusReading> reading;
  SYSTEM_POWER_STATUS status{};
  if (GetSystemPowerStatus(&status)) {
    // The battery-saver byte follows the percentage; older SDK headers (MinGW's among them) still
    // call it Reserved1, so it is read by its place rather than by either name.
    uint8_t system_status_flag = 0;
    std::memcpy(&system_status_flag,
                reinterpret_cast<const unsigned char*>(&status) + offsetof(SYSTEM_POWER_STATUS, BatteryLifePercent) + 1,
                1);
    reading = PowerStatusReading{status.ACLineStatus, status.BatteryFlag, status.BatteryLifePercent,
                                 system_status_flag, status.BatteryLifeTime};
  }
  const BatteryReport report = DescribeBattery(reading);
  return EncodableMap{
      {EncodableValue("hasBattery"), EncodableValue(report.has_battery)},
      {EncodableValue("isCharging"), EncodableValue(report.is_charging)},
      {EncodableValue("batteryPercent"), EncodableValue(report.battery_percent)},
      {EncodableValue("powerSource"), EncodableValue(report.power_source)},
      {EncodableValue("batteryStatus"), EncodableValue(report.battery_status)},
      {EncodableValue("batteryLifeRemainingSec"), EncodableValue(report.battery_life_remaining_seconds)},
      {EncodableValue("isBatterySaver"), EncodableValue(report.is_battery_saver)},
  };
}

int64_t SteadyClockNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

EncodableMap NetworkInfo(MonotonicClock clock) {
  const AdapterAddresses addresses = ReadAdapterAddresses();
  const InterfaceTable table;
  EncodableList adapters;
  if (table.Get() == nullptr) {
    return EncodableMap{
        {EncodableValue("adapters"), EncodableValue(std::move(adapters))},
        {EncodableValue("downloadSpeedBps"), EncodableValue(int64_t{0})},
        {EncodableValue("uploadSpeedBps"), EncodableValue(int64_t{0})},
        {EncodableValue("totalBytesReceived"), EncodableValue(int64_t{0})},
        {EncodableValue("totalBytesSent"), EncodableValue(int64_t{0})},
    };
  }

  const MIB_IF_TABLE2& rows = *table.Get();
  std::vector<InterfaceCounters> counters;
  counters.reserve(rows.NumEntries);
  for (ULONG index = 0; index < rows.NumEntries; ++index) {
    const MIB_IF_ROW2& row = rows.Table[index];
    counters.push_back(InterfaceCounters{row.InterfaceLuid.Value, row.Type, row.InOctets, row.OutOctets});
  }

  const int64_t now = clock();
  NetworkRates rates;
  {
    std::lock_guard lock(g_metrics_mutex);
    rates = g_net_sample.Update(counters, now);
  }

  for (ULONG index = 0; index < rows.NumEntries; ++index) {
    const MIB_IF_ROW2& row = rows.Table[index];
    if (!IsListedAdapter(row.Type, row.OperStatus)) {
      continue;
    }
    // The alias of an interface row is the friendly name of its adapter.
    const std::wstring alias = row.Alias;
    adapters.emplace_back(EncodableMap{
        {EncodableValue("name"), EncodableValue(WideToUtf8(row.Description))},
        {EncodableValue("alias"), EncodableValue(WideToUtf8(alias))},
        {EncodableValue("type"), EncodableValue(AdapterTypeName(row.Type))},
        {EncodableValue("status"), EncodableValue(AdapterStatusName(row.OperStatus))},
        {EncodableValue("linkSpeedBps"), Int64Value(row.ReceiveLinkSpeed)},
        {EncodableValue("downloadSpeedBps"), EncodableValue(rates.interfaces[index].download_bytes_per_second)},
        {EncodableValue("uploadSpeedBps"), EncodableValue(rates.interfaces[index].upload_bytes_per_second)},
        {EncodableValue("bytesReceived"), Int64Value(row.InOctets)},
        {EncodableValue("bytesSent"), Int64Value(row.OutOctets)},
        {EncodableValue("ipv4"), EncodableValue(FindOrEmpty(addresses.ipv4_by_name, alias))},
        {EncodableValue("mac"), EncodableValue(FindOrEmpty(addresses.mac_by_name, alias))},
    });
  }
  return EncodableMap{
      {EncodableValue("adapters"), EncodableValue(std::move(adapters))},
      {EncodableValue("downloadSpeedBps"), EncodableValue(rates.total.download_bytes_per_second)},
      {EncodableValue("uploadSpeedBps"), EncodableValue(rates.total.upload_bytes_per_second)},
      {EncodableValue("totalBytesReceived"), Int64Value(rates.total_bytes_received)},
      {EncodableValue("totalBytesSent"), Int64Value(rates.total_bytes_sent)},
  };
}

EncodableMap OsInfo() {
  // Built once per process, as the function-local static's first use; later calls copy it.
  static const EncodableMap g_os_info = [] {
    std::string name = "Windows";
    std::string version;
    std::string build;
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ)) {
      if (auto value = ReadRegistryText(key.Get(), L"ProductName")) {
        name = WideToUtf8(*value);
      }
      if (auto value = ReadRegistryText(key.Get(), L"DisplayVersion")) {
        version = WideToUtf8(*value);
      }
      if (auto value = ReadRegistryText(key.Get(), L"CurrentBuild")) {
        build = WideToUtf8(*value);
      }
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computer_length = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &computer_length);
    wchar_t user[256] = {};
    DWORD user_length = 256;
    GetUserNameW(user, &user_length);
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    return EncodableMap{
        {EncodableValue("osName"), EncodableValue(name)},
        {EncodableValue("osVersion"), EncodableValue(version)},
        {EncodableValue("buildNumber"), EncodableValue(build)},
        {EncodableValue("computerName"), EncodableValue(WideToUtf8(computer))},
        {EncodableValue("userName"), EncodableValue(WideToUtf8(user))},
        {EncodableValue("architecture"), EncodableValue(ArchitectureName(system.wProcessorArchitecture))},
    };
  }();
  return g_os_info;
}

EncodableMap CollectSystemMetrics() {
  EncodableMap metrics;
  metrics[EncodableValue("cpu")] = EncodableValue(CpuInfo());
  metrics[EncodableValue("memory")] = EncodableValue(MemoryInfo());
  metrics[EncodableValue("battery")] = EncodableValue(BatteryInfo());
  metrics[EncodableValue("network")] = EncodableValue(NetworkInfo());
  metrics[EncodableValue("os")] = EncodableValue(OsInfo());
  const int64_t milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
  metrics[EncodableValue("timestamp")] = EncodableValue(milliseconds);
  return metrics;
}

WorkerReply GetSystemMetricsOperation() {
  return EncodableValue(CollectSystemMetrics());
}

}  // namespace pel_mora
