#include "channel/engine_method_result.h"

#include <utility>

#include "channel/diagnostic_output.h"

namespace flutter {

ReplyHolder::ReplyHolder(BinaryReply reply) : reply_(std::move(reply)) {}

ReplyHolder::~ReplyHolder() {
  if (reply_) {
    WriteDiagnosticLine("Warning: Failed to respond to a message. This is a memory leak.");
  }
}

void ReplyHolder::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    WriteDiagnosticLine(
        "Error: Only one of Success, Error, or NotImplemented can be called,"
        " and it can be called exactly once. Ignoring duplicate result.");
    return;
  }
  // Emptied before the call, so the holder counts as used however the reply ends.
  BinaryReply reply = std::move(reply_);
  reply_ = nullptr;
  if (data == nullptr || data->empty()) {
    reply(nullptr, 0);
  } else {
    reply(data->data(), data->size());
  }
}

}  // namespace flutter
