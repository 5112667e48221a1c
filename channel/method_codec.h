#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/method_call.h"
#include "channel/method_result.h"

namespace flutter {

// Packs method calls and their success and error replies into messages, and back.
template <typename T = EncodableValue>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Null when the message is not a method call.
  virtual std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message, size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<T>& method_call) const = 0;
  // `result` may be null: a success without a value.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const T* result) const = 0;
  // `error_details` may be null. An empty message is sent as null, never as an empty string.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(const std::string& error_code,
                                                                    const std::string& error_message,
                                                                    const T* error_details) const = 0;
  // Delivers a reply envelope to `result`; false (and `result` untouched) when the envelope is
  // neither a success nor an error.
  virtual bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size, MethodResult<T>* result) const = 0;
};

}  // namespace flutter
