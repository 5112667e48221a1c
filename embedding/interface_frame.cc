#include "embedding/interface_frame.h"

#include <cstring>
#include <utility>

namespace pel_mora::embedding {

namespace {

void AppendLittleEndian(uint64_t value, size_t byte_count, std::vector<uint8_t>* output) {
  for (size_t index = 0; index < byte_count; ++index) {
    output->push_back(static_cast<uint8_t>(value >> (8 * index)));
  }
}

uint32_t ReadLittleEndian(const uint8_t* bytes, size_t byte_count) {
  uint32_t value = 0;
  for (size_t index = 0; index < byte_count; ++index) {
    value |= static_cast<uint32_t>(bytes[index]) << (8 * index);
  }
  return value;
}

bool IsKnownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(FrameKind::kPlatformMessage) &&
         kind <= static_cast<uint8_t>(FrameKind::kAuthentication);
}

constexpr uint8_t kAuthenticationKind = static_cast<uint8_t>(FrameKind::kAuthentication);
// The value of an authentication frame's length field: no channel, the digits as payload.
constexpr uint32_t kAuthenticationFrameLength = kFrameHeaderSize + kAuthenticationPayloadSize;

FrameSender SenderOf(FrameKind kind) {
  switch (kind) {
    case FrameKind::kPlatformMessage:
    case FrameKind::kHostMessageResponse:
    case FrameKind::kCloseRequest:
    case FrameKind::kAuthentication:
      return FrameSender::kInterface;
    case FrameKind::kPlatformResponse:
    case FrameKind::kHostMessage:
    case FrameKind::kHello:
      return FrameSender::kHost;
  }
  return FrameSender::kHost;
}

}  // namespace

std::optional<uint32_t> FrameLengthFor(size_t channel_size, size_t payload_size) {
  if (channel_size > kMaximumChannelSize) {
    return std::nullopt;
  }
  const size_t fixed = kFrameHeaderSize + channel_size;
  if (payload_size > kMaximumFrameLength - fixed) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(fixed + payload_size);
}

std::optional<std::vector<uint8_t>> BuildFrame(FrameKind kind, uint32_t id, std::string_view channel,
                                               const uint8_t* payload, size_t payload_size) {
  const std::optional<uint32_t> length = FrameLengthFor(channel.size(), payload_size);
  if (!length) {
    return std::nullopt;
  }
  std::vector<uint8_t> frame;
  frame.reserve(kLengthFieldSize + *length);
  AppendLittleEndian(*length, 4, &frame);
  frame.push_back(static_cast<uint8_t>(kind));
  AppendLittleEndian(id, 4, &frame);
  AppendLittleEndian(channel.size(), 2, &frame);
  frame.insert(frame.end(), channel.begin(), channel.end());
  if (payload_size > 0) {
    frame.insert(frame.end(), payload, payload + payload_size);
  }
  return frame;
}

void FrameReader::Append(const uint8_t* bytes, size_t size) {
  if (!failure_.empty() || size == 0) {
    return;
  }
  // Returned frames are dropped from the front only here, once per append, so a burst of small
  // frames costs one move of the remainder rather than one per frame.
  if (consumed_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

FrameReader::Status FrameReader::Next(Frame* frame) {
  if (!failure_.empty()) {
    return Status::kFailed;
  }
  const uint8_t* start = buffer_.data() + consumed_;
  const size_t available = buffer_.size() - consumed_;
  if (available < kLengthFieldSize) {
    return Status::kNeedMoreBytes;
  }
  const uint32_t length = ReadLittleEndian(start, 4);
  if (length < kFrameHeaderSize) {
    return Fail("frame length " + std::to_string(length) + " is shorter than the frame header");
  }
  if (length > kMaximumFrameLength) {
    return Fail("frame length " + std::to_string(length) + " is over the limit of " +
                std::to_string(kMaximumFrameLength) + " bytes");
  }
  if (available < kLengthFieldSize + 1) {
    return Status::kNeedMoreBytes;
  }
  const uint8_t kind = start[kLengthFieldSize];
  if (std::string fault = KindFault(kind); !fault.empty()) {
    return Fail(std::move(fault));
  }
  // Judged from the length alone, so a stranger's connection never makes the host buffer more
  // than an authentication frame.
  if (kind == kAuthenticationKind && length != kAuthenticationFrameLength) {
    return Fail("authentication frame of length " + std::to_string(length) + " instead of " +
                std::to_string(kAuthenticationFrameLength));
  }
  if (available < kLengthFieldSize + kFrameHeaderSize) {
    return Status::kNeedMoreBytes;
  }
  const uint32_t id = ReadLittleEndian(start + kLengthFieldSize + 1, 4);
  const size_t channel_size = ReadLittleEndian(start + kLengthFieldSize + 5, 2);
  if (channel_size > length - kFrameHeaderSize) {
    return Fail("channel of " + std::to_string(channel_size) + " bytes does not fit in a frame of length " +
                std::to_string(length));
  }
  if (static_cast<FrameKind>(kind) == FrameKind::kPlatformMessage && id == 0) {
    return Fail("platform message with id 0");
  }
  if (kind == kAuthenticationKind && (id != 0 || channel_size != 0)) {
    return Fail("authentication frame with an id or a channel");
  }
  if (available < kLengthFieldSize + length) {
    return Status::kNeedMoreBytes;
  }
  const uint8_t* channel = start + kLengthFieldSize + kFrameHeaderSize;
  const uint8_t* payload = channel + channel_size;
  const uint8_t* end = start + kLengthFieldSize + length;
  frame->kind = static_cast<FrameKind>(kind);
  frame->id = id;
  frame->channel.assign(reinterpret_cast<const char*>(channel), channel_size);
  frame->payload.assign(payload, end);
  if (kind == kAuthenticationKind) {
    authentication_read_ = true;
  }
  consumed_ += kLengthFieldSize + length;
  if (consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  return Status::kFrame;
}

void FrameReader::Reset() {
  buffer_.clear();
  consumed_ = 0;
  failure_.clear();
  authentication_read_ = false;
}

std::string FrameReader::KindFault(uint8_t kind) const {
  if (!IsKnownKind(kind)) {
    return "unknown frame kind " + std::to_string(kind);
  }
  if (SenderOf(static_cast<FrameKind>(kind)) != sender_) {
    return "frame kind " + std::to_string(kind) + " is never sent in this direction";
  }
  if (sender_ != FrameSender::kInterface) {
    return {};
  }
  if (!authentication_read_ && kind != kAuthenticationKind) {
    return "the first frame is kind " + std::to_string(kind) + ", not the authentication frame (kind 7)";
  }
  if (authentication_read_ && kind == kAuthenticationKind) {
    return "a second authentication frame";
  }
  return {};
}

FrameReader::Status FrameReader::Fail(std::string failure) {
  failure_ = std::move(failure);
  buffer_.clear();
  consumed_ = 0;
  return Status::kFailed;
}

}  // namespace pel_mora::embedding
