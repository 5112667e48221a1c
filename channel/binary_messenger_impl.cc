#include "channel/binary_messenger_impl.h"

#include <exception>
#include <memory>
#include <utility>

#include "channel/diagnostic_output.h"
#include "channel/messenger_guard.h"

namespace flutter {

namespace {

// The answer still owed to one incoming message. Every copy of the message's reply closure shares
// one of these, so the response goes out once however the closure is copied, and the messenger
// reference is given back with the last copy.
class PendingResponse {
 public:
  PendingResponse(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* response_handle)
      : messenger_(messenger), response_handle_(response_handle) {}

  PendingResponse(const PendingResponse&) = delete;
  PendingResponse& operator=(const PendingResponse&) = delete;

  // Any thread. The lock keeps the engine from being torn down between the availability check and
  // the response; it also serialises copies of the closure called on different threads.
  void Send(const uint8_t* data, size_t data_size) {
    MessengerLock lock(messenger_.get());
    if (!FlutterDesktopMessengerIsAvailable(messenger_.get())) {
      return;
    }
    if (response_handle_ == nullptr) {
      WriteDiagnosticLine("Error: Response can be set only once. Ignoring duplicate response.");
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger_.get(), response_handle_, data, data_size);
    response_handle_ = nullptr;
  }

 private:
  MessengerReference messenger_;
  const FlutterDesktopMessageResponseHandle* response_handle_;
};

// The embedding's reply callback for Send with a reply: `user_data` is the heap copy of the reply,
// used once and freed here.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  // A C callback: nothing may unwind into the embedding.
  try {
    (*reply)(data, data_size);
  } catch (const std::exception& error) {
    WriteDiagnosticLine(std::string("Unhandled exception in a channel reply handler: ") + error.what());
  } catch (...) {
    WriteDiagnosticLine("Unhandled exception in a channel reply handler.");
  }
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger) : messenger_(messenger) {}

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message,
                               size_t message_size,
                               BinaryReply reply) const {
  if (messenger_ == nullptr) {
    return;
  }
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  // The embedding owns the copy from the moment the call succeeds, and may even answer before it
  // returns; so the copy is only taken back when the call reports failure.
  auto* pending_reply = new BinaryReply(std::move(reply));
  if (!FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size, ForwardReply,
                                            pending_reply)) {
    delete pending_reply;
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (messenger_ == nullptr) {
    return;
  }
  if (!handler) {
    // The embedding forgets the entry's address before the entry goes.
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    handlers_.erase(channel);
    return;
  }
  BinaryMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), DispatchIncomingMessage, &stored);
}

void DispatchIncomingMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message,
                             void* user_data) {
  // A C callback: nothing may unwind into the embedding. A handler that throws leaves its message
  // unanswered (its result reports that when it is destroyed).
  try {
    auto pending = std::make_shared<PendingResponse>(messenger, message->response_handle);
    BinaryReply reply = [pending](const uint8_t* data, size_t data_size) { pending->Send(data, data_size); };
    auto& handler = *static_cast<BinaryMessageHandler*>(user_data);
    handler(message->message, message->message_size, std::move(reply));
  } catch (const std::exception& error) {
    WriteDiagnosticLine(std::string("Unhandled exception in a channel message handler: ") + error.what());
  } catch (...) {
    WriteDiagnosticLine("Unhandled exception in a channel message handler.");
  }
}

}  // namespace flutter
