#include "channel/locked_message_sender.h"

#include "channel/binary_messenger_impl.h"
#include "channel/flutter_embedding.h"
#include "channel/messenger_guard.h"

namespace flutter {

std::unique_ptr<LockedMessageSender> LockedMessageSender::Create(const BinaryMessenger& messenger) {
  const auto* embedding_messenger = dynamic_cast<const BinaryMessengerImpl*>(&messenger);
  if (embedding_messenger == nullptr || embedding_messenger->messenger_handle() == nullptr) {
    return nullptr;
  }
  return std::make_unique<LockedMessageSender>(embedding_messenger->messenger_handle());
}

LockedMessageSender::LockedMessageSender(FlutterDesktopMessenger* messenger)
    : messenger_(FlutterDesktopMessengerAddRef(messenger)) {}

LockedMessageSender::~LockedMessageSender() {
  FlutterDesktopMessengerRelease(messenger_);
}

bool LockedMessageSender::Send(const std::string& channel, const uint8_t* message, size_t message_size) const {
  MessengerLock lock(messenger_);
  if (!FlutterDesktopMessengerIsAvailable(messenger_)) {
    return false;
  }
  return FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
}

}  // namespace flutter
