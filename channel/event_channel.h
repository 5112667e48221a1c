#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/diagnostic_output.h"
#include "channel/event_sink_implementation.h"
#include "channel/event_stream_handler.h"
#include "channel/method_codec.h"

namespace flutter {

// A named stream of events. The interface starts and stops it with the method calls "listen" and
// "cancel" on the channel; the registered StreamHandler is told, and on "listen" gets the sink to
// push events through. Holds plain pointers to its messenger and codec, which must outlive it;
// destroying the channel leaves its registration in place.
template <typename T = EncodableValue>
class EventChannel {
 public:
  EventChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~EventChannel() = default;

  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  // Registers `handler` for this channel, for as long as the registration lasts; null removes the
  // registration (and with it the handler).
  void SetStreamHandler(std::unique_ptr<StreamHandler<T>> handler) {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    // Shared, because the registered handler must stay copyable.
    std::shared_ptr<StreamHandler<T>> stream_handler(std::move(handler));
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    const BinaryMessenger* messenger = messenger_;
    // The listening flag lives in the registration itself; the handler only runs on the platform
    // thread, so it needs no lock.
    BinaryMessageHandler binary_handler = [stream_handler, codec, channel_name, messenger, is_listening = false](
                                              const uint8_t* message, size_t message_size, BinaryReply reply) mutable {
      std::unique_ptr<MethodCall<T>> method_call = codec->DecodeMethodCall(message, message_size);
      if (!method_call) {
        WriteDiagnosticLine("Unable to construct method call from message on channel: " + channel_name);
        reply(nullptr, 0);
        return;
      }
      const std::string& method = method_call->method_name();
      std::unique_ptr<std::vector<uint8_t>> response;
      if (method == "listen") {
        if (is_listening) {
          std::unique_ptr<StreamHandlerError<T>> error = stream_handler->OnCancel(nullptr);
          if (error) {
            // This report has no line break of its own.
            WriteDiagnostic("Failed to cancel existing stream: " + error->error_code + ", " + error->error_message +
                            ", " + FormatAddress(error->error_details.get()));
          }
        }
        is_listening = true;
        std::unique_ptr<EventSink<T>> sink = std::make_unique<EventSinkImplementation<T>>(messenger, channel_name, codec);
        std::unique_ptr<StreamHandlerError<T>> error = stream_handler->OnListen(method_call->arguments(), std::move(sink));
        response = EncodeOutcome(*codec, error.get());
      } else if (method == "cancel") {
        if (is_listening) {
          std::unique_ptr<StreamHandlerError<T>> error = stream_handler->OnCancel(method_call->arguments());
          response = EncodeOutcome(*codec, error.get());
          is_listening = false;
        } else {
          response = codec->EncodeErrorEnvelope("error", "No active stream to cancel", nullptr);
        }
      } else {
        reply(nullptr, 0);
        return;
      }
      reply(response->data(), response->size());
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  // The answer to "listen" or "cancel": the handler's error, or success without a value (00 00).
  static std::unique_ptr<std::vector<uint8_t>> EncodeOutcome(const MethodCodec<T>& codec,
                                                             const StreamHandlerError<T>* error) {
    if (error != nullptr) {
      return codec.EncodeErrorEnvelope(error->error_code, error->error_message, error->error_details.get());
    }
    return codec.EncodeSuccessEnvelope(nullptr);
  }

  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
