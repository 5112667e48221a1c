#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The embedding's messenger object (see flutter_embedding.h), named here without pulling in the
// embedding's declarations.
struct FlutterDesktopMessenger;

namespace flutter {

class BinaryMessenger;

// Sends messages on the embedding's messenger from any thread, but only while the engine runs:
// each send takes the messenger lock and checks availability first, as a reply does. It holds its
// own reference to the messenger object, so a holder that outlives the engine (an event sink kept
// by a worker while the window closes) and the BinaryMessengerImpl it came from stays harmless:
// its messages are dropped.
class LockedMessageSender {
 public:
  // A sender over the embedding messenger behind `messenger`. Null when `messenger` is not backed
  // by the embedding (a messenger of a test), whose owner answers for its lifetime instead.
  static std::unique_ptr<LockedMessageSender> Create(const BinaryMessenger& messenger);

  // Takes a reference to `messenger`.
  explicit LockedMessageSender(FlutterDesktopMessenger* messenger);
  // Gives the reference back.
  ~LockedMessageSender();

  LockedMessageSender(const LockedMessageSender&) = delete;
  LockedMessageSender& operator=(const LockedMessageSender&) = delete;

  // False when the message was dropped, above all because the engine is gone.
  bool Send(const std::string& channel, const uint8_t* message, size_t message_size) const;

 private:
  FlutterDesktopMessenger* messenger_;
};

}  // namespace flutter
