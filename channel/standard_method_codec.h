#pragma once

#include "channel/method_codec.h"
#include "channel/standard_codec_serializer.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The codec for `serializer` (the standard serializer when null): the same instance for the
  // same serializer every time, alive until the process ends. The table behind it is not locked:
  // it is filled while channels are set up on the platform thread and only read afterwards.
  static const StandardMethodCodec& GetInstance(const StandardCodecSerializer* serializer = nullptr);

  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCall(const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(const std::string& error_code,
                                                            const std::string& error_message,
                                                            const EncodableValue* error_details) const override;
  bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size, MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer) : serializer_(serializer) {}

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter
