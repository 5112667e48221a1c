#include "tests/channel/codec_test_support.h"

#include <iomanip>
#include <iostream>
#include <stdexcept>

#include "channel/byte_streams.h"
#include "channel/standard_codec_serializer.h"

namespace pelmora_test {

namespace {

int HexDigit(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  if (digit >= 'A' && digit <= 'F') {
    return digit - 'A' + 10;
  }
  throw std::invalid_argument("not a hex digit in a test's byte string");
}

template <typename List>
std::string DescribeNumbers(std::string_view prefix, const List& list) {
  std::ostringstream text;
  text << std::setprecision(17) << prefix << '[';
  for (size_t index = 0; index < list.size(); ++index) {
    text << (index == 0 ? "" : ", ") << +list[index];
  }
  text << ']';
  return text.str();
}

std::string DescribeText(const std::string& bytes) {
  std::ostringstream text;
  text << '"';
  for (const char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x20 || byte >= 0x7F || character == '"' || character == '\\') {
      text << "\\x" << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte) << std::dec;
    } else {
      text << character;
    }
  }
  text << '"';
  return text.str();
}

}  // namespace

Bytes Hex(std::string_view text) {
  Bytes bytes;
  std::string digits;
  for (const char character : text) {
    if (character != ' ') {
      digits.push_back(character);
    }
  }
  if (digits.size() % 2 != 0) {
    throw std::invalid_argument("odd number of hex digits in a test's byte string");
  }
  for (size_t index = 0; index < digits.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(HexDigit(digits[index]) * 16 + HexDigit(digits[index + 1])));
  }
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const uint8_t byte : bytes) {
    if (!text.empty()) {
      text.push_back(' ');
    }
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::string Describe(const flutter::EncodableValue& value) {
  using flutter::EncodableList;
  using flutter::EncodableMap;
  if (value.IsNull()) {
    return "null";
  }
  if (const auto* boolean = std::get_if<bool>(&value)) {
    return *boolean ? "true" : "false";
  }
  if (const auto* number = std::get_if<int32_t>(&value)) {
    return std::to_string(*number);
  }
  if (const auto* number = std::get_if<int64_t>(&value)) {
    return std::to_string(*number) + "L";
  }
  if (const auto* number = std::get_if<double>(&value)) {
    std::ostringstream text;
    text << std::setprecision(17) << *number << 'd';
    return text.str();
  }
  if (const auto* text = std::get_if<std::string>(&value)) {
    return DescribeText(*text);
  }
  if (const auto* list = std::get_if<std::vector<uint8_t>>(&value)) {
    return DescribeNumbers("u8", *list);
  }
  if (const auto* list = std::get_if<std::vector<int32_t>>(&value)) {
    return DescribeNumbers("i32", *list);
  }
  if (const auto* list = std::get_if<std::vector<int64_t>>(&value)) {
    return DescribeNumbers("i64", *list);
  }
  if (const auto* list = std::get_if<std::vector<double>>(&value)) {
    return DescribeNumbers("f64", *list);
  }
  if (const auto* list = std::get_if<std::vector<float>>(&value)) {
    return DescribeNumbers("f32", *list);
  }
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    std::string text = "[";
    for (size_t index = 0; index < list->size(); ++index) {
      text += (index == 0 ? "" : ", ") + Describe((*list)[index]);
    }
    return text + "]";
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    std::string text = "{";
    for (const auto& [key, entry_value] : *map) {
      text += (text.size() == 1 ? "" : ", ") + Describe(key) + ": " + Describe(entry_value);
    }
    return text + "}";
  }
  return "custom";
}

Bytes EncodeValues(const std::vector<flutter::EncodableValue>& values) {
  Bytes message;
  flutter::ByteBufferStreamWriter writer(&message);
  for (const auto& value : values) {
    flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  }
  return message;
}

Bytes EncodeValue(const flutter::EncodableValue& value) {
  return EncodeValues({value});
}

std::vector<flutter::EncodableValue> DecodeValues(const Bytes& message, size_t count) {
  flutter::ByteBufferStreamReader reader(message.data(), message.size());
  std::vector<flutter::EncodableValue> values;
  for (size_t index = 0; index < count; ++index) {
    values.push_back(flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader));
  }
  return values;
}

DiagnosticsCapture::DiagnosticsCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}

DiagnosticsCapture::~DiagnosticsCapture() {
  std::cerr.rdbuf(previous_);
}

std::string DiagnosticsCapture::Take() {
  std::string text = captured_.str();
  captured_.str(std::string());
  return text;
}

std::string UnknownType(int type_byte) {
  return "Unknown type in StandardCodecSerializer::ReadValueOfType: " + std::to_string(type_byte) + "\n";
}

}  // namespace pelmora_test

namespace flutter {

void PrintTo(const EncodableValue& value, std::ostream* stream) {
  *stream << pelmora_test::Describe(value);
}

}  // namespace flutter
