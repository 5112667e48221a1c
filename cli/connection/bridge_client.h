#pragma once

// The interface side of the bridge: opens the connection with the host's secret, sends method
// calls and the close request, and reads what the host sends back (the hello, responses by id,
// and messages on channels such as scan events). One thread uses a client; nothing here is
// locked.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"
#include "cli/connection/socket.h"

namespace pel_mora::cli {

inline constexpr char kNativeChannel[] = "com.pelmora.app/native";
inline constexpr char kScanChannel[] = "com.pelmora.app/scan";

// The host broke the frame format or sent a frame an interface never receives.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The host closed the connection.
class ConnectionClosedError : public ConnectionError {
 public:
  using ConnectionError::ConnectionError;
};

enum class ReplyKind {
  kSuccess,
  kError,
  kNotImplemented,  // an empty response: no handler, or a method the handler does not know
  kMalformed,       // neither envelope; the bytes are all there is
};

// One decoded response (or event) envelope.
struct Reply {
  ReplyKind kind = ReplyKind::kMalformed;
  flutter::EncodableValue value;  // the success value; null when none was sent
  std::string error_code;
  std::string error_message;
  flutter::EncodableValue error_details;
  std::vector<uint8_t> bytes;  // the envelope as received
};

// Decodes a response envelope of the standard method codec.
Reply DecodeReply(std::vector<uint8_t> bytes);

class BridgeClient {
 public:
  // Called for every kind-3 message with its channel and payload (the encoded envelope, or
  // empty for an end-of-stream message).
  using MessageHandler = std::function<void(const std::string& channel, const std::vector<uint8_t>& payload)>;

  // Sends the authentication frame with `secret` at once: the host answers with its hello when
  // the secret is its own and closes the connection otherwise. Throws ConnectionError.
  BridgeClient(std::unique_ptr<Connection> connection, const embedding::InterfaceSecret& secret);

  void set_message_handler(MessageHandler handler) { message_handler_ = std::move(handler); }

  // Reads until the hello frame has arrived, for at most `timeout`; returns its value, or
  // nothing on timeout. Throws ConnectionClosedError if the host hangs up first.
  std::optional<flutter::EncodableValue> WaitForHello(std::chrono::milliseconds timeout);

  // Sends raw message bytes on `channel` (a kind-1 frame under a fresh id); returns the id its
  // response will carry. The payload may be anything, even empty, which is how a test sends a
  // message no codec would produce. (Where <windows.h> is included, its SendMessage macro renames
  // this member; call it from files that do not include that header.)
  uint32_t SendMessage(const std::string& channel, std::vector<uint8_t> payload);

  // Sends a method call with the standard method codec; returns the message id that its
  // response will carry. `arguments` null sends a call without arguments.
  uint32_t SendMethodCall(const std::string& channel, const std::string& method,
                          const flutter::EncodableValue* arguments);

  // Asks the host to close its window and so end; the host then drops the connection.
  void SendCloseRequest();

  // Waits up to `timeout` for bytes and handles every complete frame they finish. Throws
  // ConnectionClosedError, ConnectionError or ProtocolError.
  void Pump(std::chrono::milliseconds timeout);

  // The response to `id` once it has arrived (it is handed out once).
  std::optional<Reply> TakeReply(uint32_t id);

 private:
  void Send(const embedding::Frame& frame);
  void Handle(embedding::Frame frame);

  std::unique_ptr<Connection> connection_;
  // The host only ever sends responses, host messages and the hello; anything else is a fault.
  embedding::FrameReader reader_{embedding::FrameSender::kHost};
  MessageHandler message_handler_;
  std::optional<flutter::EncodableValue> hello_;
  std::map<uint32_t, std::vector<uint8_t>> responses_;
  uint32_t next_id_ = 1;
};

}  // namespace pel_mora::cli
