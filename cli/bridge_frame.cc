#include "cli/bridge_frame.h"

#include <stdexcept>

namespace pel_mora::cli {

namespace {

// Byte by byte, so the result does not depend on the machine's byte order.
void AppendLittleEndian(uint64_t value, int byte_count, std::vector<uint8_t>* out) {
  for (int index = 0; index < byte_count; ++index) {
    out->push_back(static_cast<uint8_t>(value >> (8 * index)));
  }
}

uint32_t ReadLittleEndian(const uint8_t* bytes, int byte_count) {
  uint32_t value = 0;
  for (int index = byte_count - 1; index >= 0; --index) {
    value = (value << 8) | bytes[index];
  }
  return value;
}

bool IsKnownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(FrameKind::kMessage) && kind <= static_cast<uint8_t>(FrameKind::kHello);
}

}  // namespace

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  if (frame.channel.size() > 0xFFFF) {
    throw std::length_error("channel name of " + std::to_string(frame.channel.size()) +
                            " bytes does not fit a bridge frame");
  }
  const uint64_t length = kFrameHeaderSize + frame.channel.size() + frame.payload.size();
  if (length > kMaxFrameLength) {
    throw std::length_error("a bridge frame of " + std::to_string(length) + " bytes passes the 64 MiB limit");
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(4 + static_cast<size_t>(length));
  AppendLittleEndian(length, 4, &bytes);
  bytes.push_back(static_cast<uint8_t>(frame.kind));
  AppendLittleEndian(frame.id, 4, &bytes);
  AppendLittleEndian(frame.channel.size(), 2, &bytes);
  bytes.insert(bytes.end(), frame.channel.begin(), frame.channel.end());
  bytes.insert(bytes.end(), frame.payload.begin(), frame.payload.end());
  return bytes;
}

void FrameReader::Append(const uint8_t* bytes, size_t size) {
  // Drop what has been consumed before the buffer grows, so a long session does not keep every
  // frame it ever received.
  if (consumed_ > 0 && consumed_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

FrameReader::Status FrameReader::Malformed(std::string error) {
  error_ = std::move(error);
  return Status::kMalformed;
}

FrameReader::Status FrameReader::Next(Frame* frame) {
  if (!error_.empty()) {
    return Status::kMalformed;
  }
  const size_t available = buffered_bytes();
  if (available < 4) {
    return Status::kNeedMoreBytes;
  }
  const uint8_t* start = buffer_.data() + consumed_;
  const uint32_t length = ReadLittleEndian(start, 4);
  // The length alone can be judged before the rest arrives; waiting for 4 GiB that will never
  // be accepted would only hang.
  if (length > kMaxFrameLength) {
    return Malformed("frame length " + std::to_string(length) + " passes the 64 MiB limit");
  }
  if (length < kFrameHeaderSize) {
    return Malformed("frame length " + std::to_string(length) + " is shorter than the 7-byte header");
  }
  if (available < 4 + static_cast<size_t>(length)) {
    return Status::kNeedMoreBytes;
  }
  const uint8_t kind = start[4];
  if (!IsKnownKind(kind)) {
    return Malformed("unknown frame kind " + std::to_string(kind));
  }
  const uint32_t id = ReadLittleEndian(start + 5, 4);
  const uint32_t channel_length = ReadLittleEndian(start + 9, 2);
  if (channel_length > length - kFrameHeaderSize) {
    return Malformed("channel length " + std::to_string(channel_length) + " passes the end of a " +
                     std::to_string(length) + "-byte frame");
  }
  const uint8_t* channel = start + 4 + kFrameHeaderSize;
  const uint8_t* payload = channel + channel_length;
  const uint8_t* end = start + 4 + length;
  frame->kind = static_cast<FrameKind>(kind);
  frame->id = id;
  frame->channel.assign(reinterpret_cast<const char*>(channel), channel_length);
  frame->payload.assign(payload, end);
  consumed_ += 4 + static_cast<size_t>(length);
  return Status::kFrame;
}

}  // namespace pel_mora::cli
