#include "channel/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>

namespace flutter {

namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Written in place of an absent value. Being an lvalue, it keeps a conditional between it and a
// caller's value an lvalue too: a conditional with a temporary EncodableValue in one branch
// would copy the caller's whole value (a 1000-entry batch, a 16 MiB list) before writing it.
const EncodableValue& NullValue() {
  static const EncodableValue* const null_value = new EncodableValue();
  return *null_value;
}

// Every encode gets a vector of its own, and a writer over it.
template <typename Write>
std::unique_ptr<std::vector<uint8_t>> Encode(Write write) {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(bytes.get());
  write(stream);
  return bytes;
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  // The codecs live until the process ends, so channels may keep plain pointers to them. The
  // lock costs nothing on this cold path and keeps a first use from two threads safe.
  static std::mutex* const table_mutex = new std::mutex();
  static auto* const codecs = new std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>>();
  std::lock_guard lock(*table_mutex);
  auto& codec = (*codecs)[serializer];
  if (!codec) {
    codec.reset(new StandardMethodCodec(serializer));
  }
  return *codec;
}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCall(const uint8_t* message,
                                                                                  size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue method_name = serializer_->ReadValue(&stream);
  auto* name = std::get_if<std::string>(&method_name);
  if (name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string." << std::endl;
    return nullptr;
  }
  // A message that ends after the name reads null arguments (after the reader's diagnostic).
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  return std::make_unique<MethodCall<EncodableValue>>(*name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  return Encode([&](ByteBufferStreamWriter& stream) {
    serializer_->WriteValue(EncodableValue(method_call.method_name()), &stream);
    if (method_call.arguments() != nullptr) {
      serializer_->WriteValue(*method_call.arguments(), &stream);
    } else {
      serializer_->WriteValue(EncodableValue(), &stream);
    }
  });
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(const EncodableValue* result) const {
  return Encode([&](ByteBufferStreamWriter& stream) {
    stream.WriteByte(kSuccessEnvelope);
    serializer_->WriteValue(result != nullptr ? *result : NullValue(), &stream);
  });
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(const std::string& error_code,
                                                                               const std::string& error_message,
                                                                               const EncodableValue* error_details) const {
  return Encode([&](ByteBufferStreamWriter& stream) {
    stream.WriteByte(kErrorEnvelope);
    serializer_->WriteValue(EncodableValue(error_code), &stream);
    // An empty message travels as null, never as an empty string.
    serializer_->WriteValue(error_message.empty() ? EncodableValue() : EncodableValue(error_message), &stream);
    serializer_->WriteValue(error_details != nullptr ? *error_details : NullValue(), &stream);
  });
}

bool StandardMethodCodec::DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                                 MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader stream(response, response_size);
  const uint8_t kind = stream.ReadByte();
  if (kind == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadValue(&stream);
    if (value.IsNull()) {
      result->Success();
    } else {
      result->Success(value);
    }
    return true;
  }
  if (kind == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadValue(&stream);
    EncodableValue message = serializer_->ReadValue(&stream);
    EncodableValue details = serializer_->ReadValue(&stream);
    const auto* code_text = std::get_if<std::string>(&code);
    if (code_text == nullptr) {
      // An error without a code is malformed; nothing useful can be delivered.
      return false;
    }
    const auto* message_text = std::get_if<std::string>(&message);
    const std::string message_or_empty = message_text != nullptr ? *message_text : std::string();
    if (details.IsNull()) {
      result->Error(*code_text, message_or_empty);
    } else {
      result->Error(*code_text, message_or_empty, details);
    }
    return true;
  }
  return false;
}

}  // namespace flutter
