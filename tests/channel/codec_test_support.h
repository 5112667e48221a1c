#pragma once

// Helpers shared by the value and codec tests: byte strings written as hex, a readable rendering
// of values for failure messages, and a capture of the codec's diagnostics.

#include <cstdint>
#include <iosfwd>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "channel/encodable_value.h"

namespace pelmora_test {

using Bytes = std::vector<uint8_t>;

// "07 01 61" -> {0x07, 0x01, 0x61}; spaces are ignored.
Bytes Hex(std::string_view text);

// {0x07, 0x01, 0x61} -> "07 01 61", so a mismatch shows where the bytes part.
std::string ToHex(const Bytes& bytes);

// A compact rendering: null, true, 7, 7L, 2.5, "text", u8[1, 2], [..], {key: value}, custom.
std::string Describe(const flutter::EncodableValue& value);

// Writes the values one after another into one message with the standard serializer.
Bytes EncodeValues(const std::vector<flutter::EncodableValue>& values);
Bytes EncodeValue(const flutter::EncodableValue& value);

// Reads `count` values one after another from one message with the standard serializer.
std::vector<flutter::EncodableValue> DecodeValues(const Bytes& message, size_t count);

// Sends everything written to std::cerr to a buffer for as long as it lives; the codec writes
// its diagnostics there.
class DiagnosticsCapture {
 public:
  DiagnosticsCapture();
  ~DiagnosticsCapture();

  DiagnosticsCapture(const DiagnosticsCapture&) = delete;
  DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

  // What was written since the capture began or since the last call.
  std::string Take();

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

// The diagnostic lines, byte for byte.
inline constexpr std::string_view kInvalidRead = "Invalid read in StandardCodecByteStreamReader\n";
inline constexpr std::string_view kNotAMethodName = "Invalid method call; method name is not a string.\n";
inline constexpr std::string_view kUnhandledCustom =
    "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require codec extensions.\n";
std::string UnknownType(int type_byte);

}  // namespace pelmora_test

namespace flutter {

// Lets GoogleTest print values with Describe.
void PrintTo(const EncodableValue& value, std::ostream* stream);

}  // namespace flutter
