// Throughput of the standard codec on the two heaviest kinds of message: a scan batch event of
// 1000 entries, wrapped in a success envelope as the event channel sends it, and a large typed
// list. Bytes processed are the encoded message's bytes, so both directions report the same unit.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_result.h"
#include "channel/standard_method_codec.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::StandardMethodCodec;

// A fixed sequence, so every run measures the same message.
class Sequence {
 public:
  uint64_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return state_ >> 33;
  }
  size_t Below(size_t bound) { return static_cast<size_t>(Next() % bound); }

 private:
  uint64_t state_ = 0x5CA9;
};

// One scan entry as the scanner reports it: a Windows path of 60 to 100 characters, its name,
// a 64-bit size and modification time, and two flags.
EncodableValue ScanEntry(Sequence& sequence) {
  static const char* const kRoots[] = {
      "C:\\Users\\alexandra.morgan\\AppData\\Local\\Microsoft\\Edge\\User Data\\Default\\Cache",
      "C:\\Program Files\\Microsoft Office\\root\\Office16\\Document Templates",
      "C:\\Users\\alexandra.morgan\\Documents\\Projects\\Quarterly Reports\\2024",
      "C:\\Windows\\SoftwareDistribution\\Download\\5f3e1b7c9a2d4e6f",
      "C:\\ProgramData\\Package Cache\\{8F2A9C1D-33B4-4E5F-A6B7-C8D9E0F1A2B3}",
  };
  static const char* const kExtensions[] = {".dll", ".json", ".tmp", ".docx", ".log", ".png", ""};
  const std::string extension = kExtensions[sequence.Below(7)];
  const std::string name = "item_" + std::to_string(sequence.Next() % 100000) + extension;
  const std::string path = std::string(kRoots[sequence.Below(5)]) + "\\" + name;
  const bool is_directory = extension.empty();
  return EncodableValue(EncodableMap{
      {EncodableValue("path"), EncodableValue(path)},
      {EncodableValue("name"), EncodableValue(name)},
      {EncodableValue("sizeBytes"), EncodableValue(static_cast<int64_t>(is_directory ? 0 : sequence.Next() % 50'000'000))},
      {EncodableValue("isDirectory"), EncodableValue(is_directory)},
      {EncodableValue("isAccessible"), EncodableValue(sequence.Below(50) != 0)},
      {EncodableValue("modifiedTime"), EncodableValue(static_cast<int64_t>(1'600'000'000 + sequence.Next() % 100'000'000))},
      {EncodableValue("extension"), EncodableValue(extension)},
  });
}

EncodableValue ScanBatch() {
  Sequence sequence;
  EncodableList entries;
  entries.reserve(1000);
  for (int index = 0; index < 1000; ++index) {
    entries.push_back(ScanEntry(sequence));
  }
  return EncodableValue(EncodableMap{
      {EncodableValue("type"), EncodableValue("batch")},
      {EncodableValue("entries"), EncodableValue(std::move(entries))},
      {EncodableValue("filesScanned"), EncodableValue(int64_t{182'431})},
      {EncodableValue("foldersScanned"), EncodableValue(int64_t{20'117})},
      {EncodableValue("totalBytes"), EncodableValue(int64_t{96'281'374'112})},
  });
}

constexpr size_t kLargeListBytes = 16u << 20;

EncodableValue LargeUint8List() {
  std::vector<uint8_t> bytes(kLargeListBytes);
  for (size_t index = 0; index < bytes.size(); ++index) {
    bytes[index] = static_cast<uint8_t>(index * 31);
  }
  return EncodableValue(std::move(bytes));
}

EncodableValue LargeFloat64List() {
  std::vector<double> numbers(kLargeListBytes / sizeof(double));
  for (size_t index = 0; index < numbers.size(); ++index) {
    numbers[index] = static_cast<double>(index) * 0.25;
  }
  return EncodableValue(std::move(numbers));
}

// Takes the decoded reply and keeps it from being optimised away, without copying it.
class DiscardingResult : public flutter::MethodResult<EncodableValue> {
 protected:
  void SuccessInternal(const EncodableValue* result) override { benchmark::DoNotOptimize(result); }
  void ErrorInternal(const std::string&, const std::string&, const EncodableValue* details) override {
    benchmark::DoNotOptimize(details);
  }
  void NotImplementedInternal() override {}
};

void EncodeSuccessEnvelope(benchmark::State& state, const EncodableValue& value) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  size_t message_size = 0;
  for (auto _ : state) {
    const auto message = codec.EncodeSuccessEnvelope(&value);
    message_size = message->size();
    benchmark::DoNotOptimize(message->data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message_size));
  state.counters["message_bytes"] = static_cast<double>(message_size);
}

void DecodeSuccessEnvelope(benchmark::State& state, const EncodableValue& value) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const auto message = codec.EncodeSuccessEnvelope(&value);
  for (auto _ : state) {
    DiscardingResult result;
    const bool understood = codec.DecodeResponseEnvelope(message->data(), message->size(), &result);
    benchmark::DoNotOptimize(understood);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message->size()));
  state.counters["message_bytes"] = static_cast<double>(message->size());
}

void BM_EncodeScanBatch(benchmark::State& state) {
  static const EncodableValue batch = ScanBatch();
  EncodeSuccessEnvelope(state, batch);
}
BENCHMARK(BM_EncodeScanBatch);

void BM_DecodeScanBatch(benchmark::State& state) {
  static const EncodableValue batch = ScanBatch();
  DecodeSuccessEnvelope(state, batch);
}
BENCHMARK(BM_DecodeScanBatch);

void BM_EncodeUint8List16MiB(benchmark::State& state) {
  static const EncodableValue list = LargeUint8List();
  EncodeSuccessEnvelope(state, list);
}
BENCHMARK(BM_EncodeUint8List16MiB)->Unit(benchmark::kMillisecond);

void BM_DecodeUint8List16MiB(benchmark::State& state) {
  static const EncodableValue list = LargeUint8List();
  DecodeSuccessEnvelope(state, list);
}
BENCHMARK(BM_DecodeUint8List16MiB)->Unit(benchmark::kMillisecond);

void BM_EncodeFloat64List16MiB(benchmark::State& state) {
  static const EncodableValue list = LargeFloat64List();
  EncodeSuccessEnvelope(state, list);
}
BENCHMARK(BM_EncodeFloat64List16MiB)->Unit(benchmark::kMillisecond);

void BM_DecodeFloat64List16MiB(benchmark::State& state) {
  static const EncodableValue list = LargeFloat64List();
  DecodeSuccessEnvelope(state, list);
}
BENCHMARK(BM_DecodeFloat64List16MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
