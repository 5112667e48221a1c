#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers one incoming message. A null pointer with length 0 is the empty reply. May be called
// on any thread.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles the messages of one channel, on the platform thread. `reply` answers the message; it
// may be kept and called later from another thread.
using BinaryMessageHandler = std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

// Raw byte messages on named channels.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends `message` on `channel`. `reply`, when set, receives the answer once; it is dropped
  // without being called when the message cannot be sent.
  virtual void Send(const std::string& channel,
                    const uint8_t* message,
                    size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Makes `handler` the one handler of `channel`, replacing any earlier one; an empty handler
  // removes the channel's registration. Platform thread only.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter
