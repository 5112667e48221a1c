#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/event_sink.h"
#include "channel/locked_message_sender.h"
#include "channel/method_codec.h"

namespace flutter {

// The sink an event channel hands its listener: each event is an envelope of the channel's codec
// sent on the channel, and the empty message ends the stream.
//
// A sink may outlive the engine (a scan still reporting while the window closes). Over the
// embedding's messenger it therefore sends like a reply: under the messenger lock, only while the
// engine is available, through its own reference to the messenger object, so events after the
// engine's end are dropped. Over any other messenger it sends through that messenger, whose owner
// must keep it alive for the sink.
template <typename T = EncodableValue>
class EventSinkImplementation : public EventSink<T> {
 public:
  // Platform thread. `codec` must outlive the sink (codecs live as long as the process).
  EventSinkImplementation(const BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), locked_sender_(LockedMessageSender::Create(*messenger)), name_(name), codec_(codec) {}
  ~EventSinkImplementation() override = default;

 private:
  void SuccessInternal(const T* event) override {
    std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeSuccessEnvelope(event);
    Send(message->data(), message->size());
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) override {
    std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    Send(message->data(), message->size());
  }

  void EndOfStreamInternal() override { Send(nullptr, 0); }

  void Send(const uint8_t* message, size_t message_size) const {
    if (locked_sender_) {
      locked_sender_->Send(name_, message, message_size);
    } else {
      messenger_->Send(name_, message, message_size);
    }
  }

  const BinaryMessenger* messenger_;
  std::unique_ptr<LockedMessageSender> locked_sender_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
