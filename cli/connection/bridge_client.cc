#include "cli/connection/bridge_client.h"

#include "channel/byte_streams.h"
#include "channel/method_call.h"
#include "channel/method_result.h"
#include "channel/standard_codec_serializer.h"
#include "channel/standard_method_codec.h"

#include <optional>
#include <stdexcept>

namespace pel_mora::cli {

namespace {

using embedding::Frame;
using embedding::FrameKind;
using embedding::FrameReader;
using flutter::EncodableValue;

// Receives the outcome of DecodeResponseEnvelope into a Reply.
class ReplyCapture : public flutter::MethodResult<EncodableValue> {
 public:
  explicit ReplyCapture(Reply* reply) : reply_(reply) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    reply_->kind = ReplyKind::kSuccess;
    reply_->value = result != nullptr ? *result : EncodableValue();
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* error_details) override {
    reply_->kind = ReplyKind::kError;
    reply_->error_code = error_code;
    reply_->error_message = error_message;
    reply_->error_details = error_details != nullptr ? *error_details : EncodableValue();
  }
  void NotImplementedInternal() override { reply_->kind = ReplyKind::kNotImplemented; }

 private:
  Reply* reply_;
};

std::string KindName(FrameKind kind) {
  return std::to_string(static_cast<unsigned>(kind));
}

}  // namespace

Reply DecodeReply(std::vector<uint8_t> bytes) {
  Reply reply;
  reply.bytes = std::move(bytes);
  if (reply.bytes.empty()) {
    reply.kind = ReplyKind::kNotImplemented;
    return reply;
  }
  ReplyCapture capture(&reply);
  if (!flutter::StandardMethodCodec::GetInstance().DecodeResponseEnvelope(reply.bytes.data(), reply.bytes.size(),
                                                                          &capture)) {
    reply.kind = ReplyKind::kMalformed;
  }
  return reply;
}

BridgeClient::BridgeClient(std::unique_ptr<Connection> connection, const embedding::InterfaceSecret& secret)
    : connection_(std::move(connection)) {
  const std::vector<uint8_t> authentication = embedding::AuthenticationFrame(secret);
  connection_->SendAll(authentication.data(), authentication.size());
}

std::optional<EncodableValue> BridgeClient::WaitForHello(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!hello_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return std::nullopt;
    }
    Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
  return hello_;
}

uint32_t BridgeClient::SendMessage(const std::string& channel, std::vector<uint8_t> payload) {
  Frame frame;
  frame.kind = FrameKind::kPlatformMessage;
  // Ids stay clear of 0, which the bridge reserves for "no reply wanted".
  frame.id = next_id_++;
  if (next_id_ == 0) {
    next_id_ = 1;
  }
  frame.channel = channel;
  frame.payload = std::move(payload);
  Send(frame);
  return frame.id;
}

uint32_t BridgeClient::SendMethodCall(const std::string& channel, const std::string& method,
                                      const EncodableValue* arguments) {
  const flutter::MethodCall<EncodableValue> call(
      method, arguments != nullptr ? std::make_unique<EncodableValue>(*arguments) : nullptr);
  return SendMessage(channel, *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call));
}

void BridgeClient::SendCloseRequest() {
  Frame frame;
  frame.kind = FrameKind::kCloseRequest;
  Send(frame);
}

void BridgeClient::Send(const Frame& frame) {
  const std::optional<std::vector<uint8_t>> bytes =
      embedding::BuildFrame(frame.kind, frame.id, frame.channel, frame.payload.data(), frame.payload.size());
  if (!bytes) {
    throw std::length_error("a frame for channel '" + frame.channel + "' is over the bridge's size limit");
  }
  connection_->SendAll(bytes->data(), bytes->size());
}

void BridgeClient::Pump(std::chrono::milliseconds timeout) {
  uint8_t buffer[64 * 1024];
  size_t received = 0;
  switch (connection_->Receive(buffer, sizeof(buffer), timeout, &received)) {
    case ReceiveOutcome::kTimedOut:
      return;
    case ReceiveOutcome::kClosed:
      throw ConnectionClosedError("the host closed the connection");
    case ReceiveOutcome::kData:
      break;
  }
  reader_.Append(buffer, received);
  Frame frame;
  while (true) {
    switch (reader_.Next(&frame)) {
      case FrameReader::Status::kNeedMoreBytes:
        return;
      case FrameReader::Status::kFailed:
        throw ProtocolError("malformed frame from the host: " + reader_.failure());
      case FrameReader::Status::kFrame:
        Handle(std::move(frame));
        frame = Frame();
        break;
    }
  }
}

void BridgeClient::Handle(Frame frame) {
  switch (frame.kind) {
    case FrameKind::kHello: {
      flutter::ByteBufferStreamReader stream(frame.payload.data(), frame.payload.size());
      hello_ = flutter::StandardCodecSerializer::GetInstance().ReadValue(&stream);
      return;
    }
    case FrameKind::kPlatformResponse:
      responses_[frame.id] = std::move(frame.payload);
      return;
    case FrameKind::kHostMessage:
      if (message_handler_) {
        message_handler_(frame.channel, frame.payload);
      }
      if (frame.id != 0) {
        // The client registers no handlers of its own; an empty response is the bridge's
        // "no handler", and it keeps the host from waiting for an answer forever.
        Frame response;
        response.kind = FrameKind::kHostMessageResponse;
        response.id = frame.id;
        Send(response);
      }
      return;
    case FrameKind::kPlatformMessage:
    case FrameKind::kHostMessageResponse:
    case FrameKind::kCloseRequest:
    case FrameKind::kAuthentication:
      break;
  }
  throw ProtocolError("the host sent a frame of kind " + KindName(frame.kind) + ", which only an interface sends");
}

std::optional<Reply> BridgeClient::TakeReply(uint32_t id) {
  const auto found = responses_.find(id);
  if (found == responses_.end()) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes = std::move(found->second);
  responses_.erase(found);
  return DecodeReply(std::move(bytes));
}

}  // namespace pel_mora::cli
