#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "channel/binary_messenger.h"
#include "channel/diagnostic_output.h"
#include "channel/engine_method_result.h"
#include "channel/method_call.h"
#include "channel/method_codec.h"
#include "channel/method_result.h"

namespace flutter {

// Handles one decoded method call on the platform thread. The handler owns `result` and may
// complete it later, on any thread.
template <typename T = EncodableValue>
using MethodCallHandler = std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

// A named channel of method calls: decodes each incoming message into a MethodCall and gives the
// handler a one-shot result for it. Holds plain pointers to its messenger and codec, which must
// outlive it; destroying the channel leaves its registration in place.
template <typename T = EncodableValue>
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~MethodChannel() = default;

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Registers `handler` for this channel; an empty handler removes the registration.
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    // The registration captures copies, so it does not depend on this channel object.
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    BinaryMessageHandler binary_handler = [handler = std::move(handler), codec, channel_name](
                                              const uint8_t* message, size_t message_size, BinaryReply reply) {
      // The result exists before decoding, so even an undecodable message gets its one answer.
      auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
      std::unique_ptr<MethodCall<T>> method_call = codec->DecodeMethodCall(message, message_size);
      if (!method_call) {
        WriteDiagnosticLine("Unable to construct method call from message on channel " + channel_name);
        result->NotImplemented();
        return;
      }
      handler(*method_call, std::move(result));
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
