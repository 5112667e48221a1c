#pragma once

// The frames of the interface bridge: the wire format between the host and an interface process
// over one TCP connection. Integers are little-endian:
//
//   u32 length       bytes after this field, at most kMaximumFrameLength
//   u8  kind         FrameKind
//   u32 id           message id (0 where the kind has none, or no reply is wanted)
//   u16 channel size N
//   N   channel      UTF-8, empty where the kind has none
//   ... payload      the rest of the frame
//
// The interface's first frame on every connection is the authentication frame (kind 7) and
// only that one is: the reader refuses any other order, so a stream that does not open with it
// fails before anything in it is acted on.
//
// Free of any platform call, so the host, the command-line client and the tests share it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pel_mora::embedding {

enum class FrameKind : uint8_t {
  // Interface to host: a platform message on a channel; the id is never 0.
  kPlatformMessage = 1,
  // Host to interface: the response to platform message `id`; no channel.
  kPlatformResponse = 2,
  // Host to interface: a message on a channel; id 0 wants no reply.
  kHostMessage = 3,
  // Interface to host: the response to host message `id`.
  kHostMessageResponse = 4,
  // Interface to host: close the host's top-level window as a user would.
  kCloseRequest = 5,
  // Host to interface: the first frame of every connection, describing the engine's start,
  // sent once the connection's authentication frame is accepted.
  kHello = 6,
  // Interface to host: the first frame of every connection and only that one; id 0, no channel,
  // the payload the bridge's secret as 64 ASCII hexadecimal digits.
  kAuthentication = 7,
};

// Which end wrote the frames a reader accepts: a kind that only the other end sends is refused.
enum class FrameSender { kInterface, kHost };

inline constexpr uint32_t kMaximumFrameLength = 64u * 1024u * 1024u;
inline constexpr size_t kLengthFieldSize = 4;
// Kind, id and channel size: the part of every frame that follows the length field.
inline constexpr size_t kFrameHeaderSize = 1 + 4 + 2;
inline constexpr size_t kMaximumChannelSize = 0xFFFF;
// The authentication frame's payload: the secret's 32 bytes as hexadecimal digits.
inline constexpr size_t kAuthenticationPayloadSize = 64;

struct Frame {
  FrameKind kind = FrameKind::kPlatformMessage;
  uint32_t id = 0;
  std::string channel;
  std::vector<uint8_t> payload;
};

// The value of the length field for a frame with this channel and payload, or nothing when such
// a frame cannot be written (channel longer than 65535 bytes, or the frame over the limit).
std::optional<uint32_t> FrameLengthFor(size_t channel_size, size_t payload_size);

// The complete frame, length field included; nothing when FrameLengthFor refuses the sizes.
// `payload` may be null when `payload_size` is 0.
std::optional<std::vector<uint8_t>> BuildFrame(FrameKind kind, uint32_t id, std::string_view channel,
                                               const uint8_t* payload, size_t payload_size);

// Cuts frames out of a byte stream that arrives in pieces of any size. A frame that cannot be
// parsed puts the reader into a failed state for good: the stream has lost its framing, so the
// connection it came from must end.
class FrameReader {
 public:
  enum class Status { kFrame, kNeedMoreBytes, kFailed };

  explicit FrameReader(FrameSender sender) : sender_(sender) {}

  void Append(const uint8_t* bytes, size_t size);

  // The next complete frame into `frame` (kFrame); kNeedMoreBytes while the next frame is not
  // complete; kFailed (with failure() naming the fault) as soon as the bytes received so far show
  // that the next frame is malformed, without waiting for the rest of it.
  Status Next(Frame* frame);

  const std::string& failure() const { return failure_; }

  // Forgets buffered bytes and any failure, for a new connection (which opens with its
  // authentication frame again).
  void Reset();

 private:
  Status Fail(std::string failure);
  // The fault of the next frame's kind at this point of the stream, or empty when it may come.
  std::string KindFault(uint8_t kind) const;

  FrameSender sender_;
  // Interface streams only: whether the authentication frame, which opens them, has been read.
  bool authentication_read_ = false;
  std::vector<uint8_t> buffer_;
  // Bytes at the front of buffer_ that belong to frames already returned.
  size_t consumed_ = 0;
  std::string failure_;
};

}  // namespace pel_mora::embedding
