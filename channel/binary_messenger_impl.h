#pragma once

#include <map>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/flutter_embedding.h"

namespace flutter {

// The BinaryMessenger over the embedding's messenger object.
//
// Incoming messages arrive on the platform thread through DispatchIncomingMessage, whose user
// data is the address of the channel's handler in `handlers_`; a node-based map keeps that
// address fixed for as long as the entry exists. The table is changed only on the platform thread.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // `messenger` belongs to the engine; no reference is taken. Null (an engine that failed to
  // start) gives a messenger that drops what is sent and registers nothing.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  ~BinaryMessengerImpl() override = default;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel,
            const uint8_t* message,
            size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

  // The embedding's messenger object, for senders that take their own reference to it.
  FlutterDesktopMessengerRef messenger_handle() const { return messenger_; }

 private:
  FlutterDesktopMessengerRef messenger_;
  std::map<std::string, BinaryMessageHandler> handlers_;
};

// The callback the embedding calls for each message on a registered channel: `user_data` is the
// channel's BinaryMessageHandler. The handler gets a reply closure that keeps the messenger object
// alive and answers the message once, from any thread, while the engine still runs.
void DispatchIncomingMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message,
                             void* user_data);

}  // namespace flutter
