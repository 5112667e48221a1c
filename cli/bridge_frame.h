#pragma once

// Frames of the interface bridge, the TCP link between an interface process and the host.
// Layout, integers little-endian: u32 length (bytes after this field), u8 kind, u32 id,
// u16 channel length N, N bytes of UTF-8 channel name, then the payload.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pel_mora::cli {

enum class FrameKind : uint8_t {
  kMessage = 1,          // interface to host: a platform message on a channel, id not 0
  kResponse = 2,         // host to interface: the response to message id (empty payload: no handler)
  kHostMessage = 3,      // host to interface: events and sends; id 0 wants no reply
  kHostResponse = 4,     // interface to host: the response to a kind-3 message
  kCloseRequest = 5,     // interface to host: close the window as a user would
  kHello = 6,            // host to interface: first frame of every connection
};

// Everything after the length field: kind, id, channel length.
constexpr size_t kFrameHeaderSize = 1 + 4 + 2;
// The largest value of the length field either side accepts.
constexpr uint32_t kMaxFrameLength = 64u * 1024u * 1024u;

struct Frame {
  FrameKind kind = FrameKind::kMessage;
  uint32_t id = 0;
  std::string channel;
  std::vector<uint8_t> payload;
};

// The bytes of one frame, length field included. Throws std::length_error when the channel
// name is longer than 65535 bytes or the frame would pass kMaxFrameLength.
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// Cuts a byte stream into frames. Bytes are appended as they arrive, in any pieces; each call
// of Next returns the next complete frame, reports that more bytes are needed, or reports the
// stream as malformed (which is final: the connection cannot be resynchronised).
class FrameReader {
 public:
  enum class Status { kFrame, kNeedMoreBytes, kMalformed };

  void Append(const uint8_t* bytes, size_t size);

  // On kFrame, *frame receives it; on kMalformed, error() says why.
  Status Next(Frame* frame);

  const std::string& error() const { return error_; }

  // Bytes received but not yet returned as frames.
  size_t buffered_bytes() const { return buffer_.size() - consumed_; }

 private:
  Status Malformed(std::string error);

  std::vector<uint8_t> buffer_;
  size_t consumed_ = 0;
  std::string error_;
};

}  // namespace pel_mora::cli
