// A deterministic fuzzer for the standard codec's decoders. It mutates a corpus of valid messages
// (bit flips, truncation, inserted size prefixes, random bytes, splices) with a seeded generator
// and feeds each input to DecodeMethodCall, DecodeResponseEnvelope and ReadValue. Every decoded
// value must survive a re-encode and decode unchanged, re-encoding must be stable, no single
// allocation may be far larger than the input, and everything the decoder writes to std::cerr
// must be one of its known diagnostic lines.
//
// Usage: decoder_fuzz [--iterations N] [--seed S]
// Built with -DPELMORA_LIBFUZZER the same checks run as a libFuzzer entry point instead.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/method_result.h"
#include "channel/standard_codec_serializer.h"
#include "channel/standard_method_codec.h"
#include "tests/channel/allocation_probe.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::StandardCodecSerializer;
using flutter::StandardMethodCodec;
using Bytes = std::vector<uint8_t>;

// Stops the run with the input that broke a property, so it can be replayed.
[[noreturn]] void Fail(const char* property, const uint8_t* data, size_t size) {
  std::fprintf(stderr, "decoder_fuzz: %s\ninput (%zu bytes):", property, size);
  for (size_t index = 0; index < size; ++index) {
    std::fprintf(stderr, " %02X", data[index]);
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

// Swallows the decoder's diagnostics, checking that each is one complete known line.
class DiagnosticsChecker : public std::streambuf {
 public:
  // True when every line seen so far was a known diagnostic and no line is left unfinished.
  bool AllKnown() const { return all_known_ && line_.empty(); }
  void Reset() {
    all_known_ = true;
    line_.clear();
  }

 protected:
  int overflow(int character) override {
    if (character == traits_type::eof()) {
      return traits_type::not_eof(character);
    }
    const char single = static_cast<char>(character);
    xsputn(&single, 1);
    return character;
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::string_view rest(text, static_cast<size_t>(count));
    for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
      line_.append(rest.substr(0, end));
      all_known_ = all_known_ && IsKnown(line_);
      line_.clear();
      rest.remove_prefix(end + 1);
    }
    line_.append(rest);
    return count;
  }

 private:
  static bool IsKnown(std::string_view line) {
    static constexpr std::string_view kUnknownType = "Unknown type in StandardCodecSerializer::ReadValueOfType: ";
    if (line == "Invalid read in StandardCodecByteStreamReader" ||
        line == "Invalid method call; method name is not a string.") {
      return true;
    }
    if (line.substr(0, kUnknownType.size()) != kUnknownType) {
      return false;
    }
    const std::string number(line.substr(kUnknownType.size()));
    if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    const int type_byte = std::stoi(number);
    return type_byte >= 15 && type_byte <= 255;
  }

  std::string line_;
  bool all_known_ = true;
};

// Equality in which a double equals another with the same bits, so a NaN equals itself.
bool SameValue(const EncodableValue& left, const EncodableValue& right);

template <typename Number>
bool SameBits(const std::vector<Number>& left, const std::vector<Number>& right) {
  return left.size() == right.size() &&
         (left.empty() || std::memcmp(left.data(), right.data(), left.size() * sizeof(Number)) == 0);
}

bool SameValue(const EncodableValue& left, const EncodableValue& right) {
  if (left.index() != right.index()) {
    return false;
  }
  if (const auto* number = std::get_if<double>(&left)) {
    const double other = std::get<double>(right);
    return std::memcmp(number, &other, sizeof(double)) == 0;
  }
  if (const auto* list = std::get_if<std::vector<double>>(&left)) {
    return SameBits(*list, std::get<std::vector<double>>(right));
  }
  if (const auto* list = std::get_if<std::vector<float>>(&left)) {
    return SameBits(*list, std::get<std::vector<float>>(right));
  }
  if (const auto* list = std::get_if<EncodableList>(&left)) {
    const auto& other = std::get<EncodableList>(right);
    if (list->size() != other.size()) {
      return false;
    }
    for (size_t index = 0; index < list->size(); ++index) {
      if (!SameValue((*list)[index], other[index])) {
        return false;
      }
    }
    return true;
  }
  if (const auto* map = std::get_if<EncodableMap>(&left)) {
    const auto& other = std::get<EncodableMap>(right);
    if (map->size() != other.size()) {
      return false;
    }
    for (auto entry = map->begin(), other_entry = other.begin(); entry != map->end(); ++entry, ++other_entry) {
      if (!SameValue(entry->first, other_entry->first) || !SameValue(entry->second, other_entry->second)) {
        return false;
      }
    }
    return true;
  }
  return left == right;
}

bool ContainsNaN(const EncodableValue& value) {
  if (const auto* number = std::get_if<double>(&value)) {
    return std::isnan(*number);
  }
  if (const auto* list = std::get_if<std::vector<double>>(&value)) {
    for (const double element : *list) {
      if (std::isnan(element)) {
        return true;
      }
    }
  }
  if (const auto* list = std::get_if<std::vector<float>>(&value)) {
    for (const float element : *list) {
      if (std::isnan(element)) {
        return true;
      }
    }
  }
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    for (const auto& element : *list) {
      if (ContainsNaN(element)) {
        return true;
      }
    }
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& [key, entry_value] : *map) {
      if (ContainsNaN(key) || ContainsNaN(entry_value)) {
        return true;
      }
    }
  }
  return false;
}

// A NaN inside a map key is unordered against every other key, so the map's key order is not a
// strict weak order there and the entries a map keeps can depend on the insertion order. Such a
// value is still decoded and encoded, but its round trip is not compared.
bool HasNaNInAKey(const EncodableValue& value) {
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    for (const auto& element : *list) {
      if (HasNaNInAKey(element)) {
        return true;
      }
    }
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& [key, entry_value] : *map) {
      if (ContainsNaN(key) || HasNaNInAKey(entry_value)) {
        return true;
      }
    }
  }
  return false;
}

Bytes Encode(const EncodableValue& value) {
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue DecodeOne(const Bytes& bytes) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

// Re-encodes a decoded value and decodes it again: the value must come back the same, and its
// encoding must be a fixed point.
void CheckRoundTrip(const EncodableValue& value, const uint8_t* data, size_t size) {
  if (HasNaNInAKey(value)) {
    Encode(value);
    return;
  }
  const Bytes encoded = Encode(value);
  const EncodableValue decoded = DecodeOne(encoded);
  if (!SameValue(decoded, value)) {
    Fail("a decoded value changed on a re-encode and decode", data, size);
  }
  if (Encode(decoded) != encoded) {
    Fail("re-encoding a decoded value is not stable", data, size);
  }
}

// Records the one completion a response envelope delivers.
class CapturingResult : public flutter::MethodResult<EncodableValue> {
 public:
  enum class Completion { None, Success, Error, NotImplemented };

  Completion completion = Completion::None;
  int completions = 0;
  std::unique_ptr<EncodableValue> value;
  std::string code;
  std::string message;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    Record(Completion::Success, result);
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* error_details) override {
    Record(Completion::Error, error_details);
    code = error_code;
    message = error_message;
  }
  void NotImplementedInternal() override { Record(Completion::NotImplemented, nullptr); }

 private:
  void Record(Completion kind, const EncodableValue* delivered) {
    completion = kind;
    ++completions;
    value = delivered != nullptr ? std::make_unique<EncodableValue>(*delivered) : nullptr;
  }
};

// Returns whether the input decoded as a method call.
bool CheckMethodCall(const uint8_t* data, size_t size) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const auto call = codec.DecodeMethodCall(data, size);
  if (call == nullptr) {
    return false;
  }
  if (call->arguments() == nullptr) {
    Fail("a decoded method call has no arguments value", data, size);
  }
  if (HasNaNInAKey(*call->arguments())) {
    return true;
  }
  const auto encoded = codec.EncodeMethodCall(*call);
  const auto decoded = codec.DecodeMethodCall(encoded->data(), encoded->size());
  if (decoded == nullptr || decoded->method_name() != call->method_name() || decoded->arguments() == nullptr ||
      !SameValue(*decoded->arguments(), *call->arguments())) {
    Fail("a decoded method call changed on a re-encode and decode", data, size);
  }
  return true;
}

void CheckResponseEnvelope(const uint8_t* data, size_t size) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  CapturingResult result;
  const bool understood = codec.DecodeResponseEnvelope(data, size, &result);
  const uint8_t kind = size == 0 ? 0 : data[0];
  if (kind > 1 && (understood || result.completions != 0)) {
    Fail("an envelope with an unknown first byte was accepted or touched the result", data, size);
  }
  if (!understood) {
    if (result.completions != 0) {
      Fail("a rejected envelope touched the result", data, size);
    }
    return;
  }
  if (result.completions != 1) {
    Fail("an accepted envelope did not complete the result exactly once", data, size);
  }
  if (result.value != nullptr && HasNaNInAKey(*result.value)) {
    return;
  }

  std::unique_ptr<std::vector<uint8_t>> encoded;
  if (result.completion == CapturingResult::Completion::Success) {
    encoded = codec.EncodeSuccessEnvelope(result.value.get());
  } else if (result.completion == CapturingResult::Completion::Error) {
    encoded = codec.EncodeErrorEnvelope(result.code, result.message, result.value.get());
  } else {
    Fail("a response envelope decoded as not-implemented", data, size);
  }
  CapturingResult again;
  if (!codec.DecodeResponseEnvelope(encoded->data(), encoded->size(), &again) || again.completions != 1 ||
      again.completion != result.completion || again.code != result.code || again.message != result.message ||
      (again.value == nullptr) != (result.value == nullptr) ||
      (again.value != nullptr && !SameValue(*again.value, *result.value))) {
    Fail("a decoded envelope changed on a re-encode and decode", data, size);
  }
}

void CheckValueSequence(const uint8_t* data, size_t size) {
  ByteBufferStreamReader reader(data, size);
  // Every read takes at least its type byte while input remains, so this ends.
  while (reader.RemainingBytes() > 0) {
    CheckRoundTrip(StandardCodecSerializer::GetInstance().ReadValue(&reader), data, size);
  }
}

// Decoding may allocate for what the input holds (a list reserves one value per remaining
// byte at most) but never for a size it merely declares.
size_t AllocationAllowance(size_t size) {
  return 4096 + size * 2 * sizeof(EncodableValue);
}

// Returns whether the input decoded as a method call.
bool CheckInput(const uint8_t* data, size_t size, DiagnosticsChecker& diagnostics) {
  diagnostics.Reset();
  bool method_call = false;
  {
    pelmora_test::AllocationProbe probe;
    method_call = CheckMethodCall(data, size);
    CheckResponseEnvelope(data, size);
    CheckValueSequence(data, size);
    if (probe.LargestRequest() > AllocationAllowance(size)) {
      Fail("one allocation was far larger than the input", data, size);
    }
  }
  if (!diagnostics.AllKnown()) {
    Fail("the decoder wrote something other than its known diagnostic lines", data, size);
  }
  return method_call;
}

#ifndef PELMORA_LIBFUZZER

// SplitMix64: small, fast and the same on every platform, so a seed replays a run.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t mixed = (state_ += 0x9E3779B97F4A7C15ull);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    return mixed ^ (mixed >> 31);
  }

  // Uniform enough in [0, bound) for bound > 0.
  size_t Below(size_t bound) { return static_cast<size_t>(Next() % bound); }
  uint8_t Byte() { return static_cast<uint8_t>(Next()); }

 private:
  uint64_t state_;
};

EncodableValue ScanEntry(int index) {
  return EncodableValue(EncodableMap{
      {EncodableValue("path"), EncodableValue("C:\\Users\\user\\Documents\\report-" + std::to_string(index) + ".docx")},
      {EncodableValue("name"), EncodableValue("report-" + std::to_string(index) + ".docx")},
      {EncodableValue("sizeBytes"), EncodableValue(int64_t{1} << (index % 40))},
      {EncodableValue("isDirectory"), EncodableValue(index % 5 == 0)},
      {EncodableValue("isAccessible"), EncodableValue(true)},
      {EncodableValue("modifiedTime"), EncodableValue(int64_t{1'700'000'000} + index)},
      {EncodableValue("extension"), EncodableValue(".docx")},
  });
}

// Valid messages of every shape the channels carry, to mutate from.
std::vector<Bytes> Corpus() {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  std::vector<EncodableValue> values = {
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(false),
      EncodableValue(int32_t{-123456}),
      EncodableValue(int64_t{0x0102030405060708}),
      EncodableValue(3.25),
      EncodableValue("h\xC3\xA9llo"),
      EncodableValue(std::string(300, 's')),
      EncodableValue(std::vector<uint8_t>{0, 1, 254, 255}),
      EncodableValue(std::vector<int32_t>{-1, 0, 1}),
      EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<int64_t>{INT64_MIN, 7}),
      EncodableValue(std::vector<double>{0.5, -0.0, std::numeric_limits<double>::infinity()}),
      EncodableValue(std::vector<float>{1.5f, -2.0f}),
      EncodableValue(std::vector<float>{}),
      EncodableValue(EncodableList{EncodableValue(true), EncodableValue(2.5), EncodableValue(std::vector<int32_t>{}),
                                   EncodableValue(int32_t{7}), EncodableValue(std::vector<double>{1.0})}),
      EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue("int")},
                                  {EncodableValue(int64_t{1}), EncodableValue("long")},
                                  {EncodableValue(0.5), EncodableValue(EncodableList{})},
                                  {EncodableValue(EncodableList{EncodableValue("k")}), EncodableValue(EncodableMap{})}}),
      ScanEntry(3),
  };
  EncodableList entries;
  for (int index = 0; index < 5; ++index) {
    entries.push_back(ScanEntry(index));
  }
  const EncodableValue batch(EncodableMap{
      {EncodableValue("type"), EncodableValue("batch")},
      {EncodableValue("entries"), EncodableValue(entries)},
      {EncodableValue("filesScanned"), EncodableValue(int64_t{5})},
      {EncodableValue("foldersScanned"), EncodableValue(int64_t{3})},
      {EncodableValue("totalBytes"), EncodableValue(int64_t{123456789})},
  });
  values.push_back(batch);

  std::vector<Bytes> corpus;
  for (const auto& value : values) {
    corpus.push_back(Encode(value));
    corpus.push_back(*codec.EncodeSuccessEnvelope(&value));
    corpus.push_back(*codec.EncodeMethodCall(MethodCall<EncodableValue>(
        "startScan", std::make_unique<EncodableValue>(value))));
  }
  corpus.push_back(*codec.EncodeMethodCall(MethodCall<EncodableValue>("getDrives", nullptr)));
  corpus.push_back(*codec.EncodeSuccessEnvelope(nullptr));
  corpus.push_back(*codec.EncodeErrorEnvelope("SCAN_ERROR", "Scan failed.", nullptr));
  corpus.push_back(*codec.EncodeErrorEnvelope("INVALID_ARGS", "", &values[16]));
  return corpus;
}

void Mutate(Bytes& input, const std::vector<Bytes>& corpus, Random& random) {
  static constexpr uint8_t kInterestingBytes[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x7F, 0x80, 0xFD, 0xFE, 0xFF};
  const size_t mutations = 1 + random.Below(4);
  for (size_t round = 0; round < mutations; ++round) {
    switch (random.Below(8)) {
      case 0:  // Flip one bit.
        if (!input.empty()) {
          input[random.Below(input.size())] ^= static_cast<uint8_t>(1u << random.Below(8));
        }
        break;
      case 1:  // Cut the message short.
        input.resize(random.Below(input.size() + 1));
        break;
      case 2: {  // Insert a size prefix of one of the three widths, often a huge one.
        Bytes prefix;
        switch (random.Below(4)) {
          case 0:
            prefix = {static_cast<uint8_t>(random.Below(254))};
            break;
          case 1:
            prefix = {0xFE, random.Byte(), random.Byte()};
            break;
          case 2:
            prefix = {0xFF, random.Byte(), random.Byte(), random.Byte(), random.Byte()};
            break;
          default:
            prefix = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            break;
        }
        input.insert(input.begin() + static_cast<ptrdiff_t>(random.Below(input.size() + 1)), prefix.begin(),
                     prefix.end());
        break;
      }
      case 3:  // Overwrite one byte with a type byte or a size marker.
        if (!input.empty()) {
          input[random.Below(input.size())] = kInterestingBytes[random.Below(sizeof(kInterestingBytes))];
        }
        break;
      case 4: {  // Insert a few random bytes.
        const size_t count = 1 + random.Below(8);
        const auto position = static_cast<ptrdiff_t>(random.Below(input.size() + 1));
        for (size_t index = 0; index < count; ++index) {
          input.insert(input.begin() + position, random.Byte());
        }
        break;
      }
      case 5:  // Overwrite one byte with a random one.
        if (!input.empty()) {
          input[random.Below(input.size())] = random.Byte();
        }
        break;
      case 6:  // Remove a stretch.
        if (!input.empty()) {
          const size_t start = random.Below(input.size());
          const size_t count = 1 + random.Below(std::min<size_t>(16, input.size() - start));
          input.erase(input.begin() + static_cast<ptrdiff_t>(start),
                      input.begin() + static_cast<ptrdiff_t>(start + count));
        }
        break;
      default: {  // Splice the tail of another corpus message onto a head of this one.
        const Bytes& other = corpus[random.Below(corpus.size())];
        input.resize(random.Below(input.size() + 1));
        const size_t start = random.Below(other.size() + 1);
        input.insert(input.end(), other.begin() + static_cast<ptrdiff_t>(start), other.end());
        break;
      }
    }
  }
}

#endif  // PELMORA_LIBFUZZER

// Sends std::cerr to the checker for the whole run; the decoder writes its diagnostics there.
class DiagnosticsRedirect {
 public:
  explicit DiagnosticsRedirect(DiagnosticsChecker& checker) : previous_(std::cerr.rdbuf(&checker)) {}
  ~DiagnosticsRedirect() { std::cerr.rdbuf(previous_); }

  DiagnosticsRedirect(const DiagnosticsRedirect&) = delete;
  DiagnosticsRedirect& operator=(const DiagnosticsRedirect&) = delete;

 private:
  std::streambuf* previous_;
};

}  // namespace

#ifdef PELMORA_LIBFUZZER

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiagnosticsChecker diagnostics;
  static DiagnosticsRedirect redirect(diagnostics);
  CheckInput(data, size, diagnostics);
  return 0;
}

#else

int main(int argument_count, char** arguments) {
  uint64_t iterations = 100000;
  uint64_t seed = 0x5EED;
  for (int index = 1; index < argument_count; ++index) {
    const std::string_view option = arguments[index];
    if (index + 1 < argument_count && option == "--iterations") {
      iterations = std::strtoull(arguments[++index], nullptr, 10);
    } else if (index + 1 < argument_count && option == "--seed") {
      seed = std::strtoull(arguments[++index], nullptr, 0);
    } else {
      std::fprintf(stderr, "usage: decoder_fuzz [--iterations N] [--seed S]\n");
      return 2;
    }
  }

  const std::vector<Bytes> corpus = Corpus();
  Random random(seed);
  DiagnosticsChecker diagnostics;
  uint64_t method_calls = 0;
  uint64_t total_bytes = 0;
  {
    DiagnosticsRedirect redirect(diagnostics);
    // The unmutated corpus first: these must decode as they were written.
    for (const Bytes& message : corpus) {
      CheckInput(message.data(), message.size(), diagnostics);
    }
    Bytes input;
    for (uint64_t iteration = 0; iteration < iterations; ++iteration) {
      if (random.Below(64) == 0) {
        // Now and then pure noise.
        input.resize(random.Below(48));
        for (uint8_t& byte : input) {
          byte = random.Byte();
        }
      } else {
        input = corpus[random.Below(corpus.size())];
        Mutate(input, corpus, random);
      }
      total_bytes += input.size();
      if (CheckInput(input.data(), input.size(), diagnostics)) {
        ++method_calls;
      }
    }
  }
  std::printf("decoder_fuzz: %llu inputs (%llu bytes), %llu decoded as method calls, seed %llu: all properties held\n",
              static_cast<unsigned long long>(iterations), static_cast<unsigned long long>(total_bytes),
              static_cast<unsigned long long>(method_calls), static_cast<unsigned long long>(seed));
  return 0;
}

#endif
