#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/method_codec.h"
#include "channel/method_result.h"

namespace flutter {

// Owns the reply closure of one incoming message and lets it be used once.
class ReplyHolder {
 public:
  explicit ReplyHolder(BinaryReply reply);
  // A reply never used means the sender waits forever: that is reported, and nothing is sent.
  ~ReplyHolder();

  ReplyHolder(const ReplyHolder&) = delete;
  ReplyHolder& operator=(const ReplyHolder&) = delete;

  // Sends `data` (null or empty: the empty reply) and empties the holder; a second send is
  // reported and dropped.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  BinaryReply reply_;
};

// The one-shot result of a method call that came in over the messenger: completes by encoding an
// envelope with the channel's codec and sending it through the call's reply. It has no lock of its
// own; whoever holds it completes it from one thread.
template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // `codec` must outlive the result (codecs live as long as the process).
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec) : reply_holder_(std::move(reply)), codec_(codec) {}
  ~EngineMethodResult() override = default;

 protected:
  void SuccessInternal(const T* result) override {
    std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccessEnvelope(result);
    reply_holder_.SendResponseData(data.get());
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) override {
    std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_holder_.SendResponseData(data.get());
  }

  // Not implemented is signalled by the empty reply.
  void NotImplementedInternal() override { reply_holder_.SendResponseData(nullptr); }

 private:
  ReplyHolder reply_holder_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
