#pragma once

#include <memory>
#include <string>
#include <utility>

#include "channel/encodable_value.h"
#include "channel/event_sink.h"

namespace flutter {

// Why a stream could not start or stop; it reaches the interface as an error envelope.
template <typename T = EncodableValue>
struct StreamHandlerError {
  StreamHandlerError(const std::string& code, const std::string& message, std::unique_ptr<T> details)
      : error_code(code), error_message(message), error_details(std::move(details)) {}

  std::string error_code;
  std::string error_message;
  // Null when there are no details.
  std::unique_ptr<T> error_details;
};

// The two ends of an event stream, called on the platform thread when the interface starts and
// stops listening. Each returns null, or the error to answer with.
template <typename T = EncodableValue>
class StreamHandler {
 public:
  StreamHandler() = default;
  virtual ~StreamHandler() = default;

  StreamHandler(const StreamHandler&) = delete;
  StreamHandler& operator=(const StreamHandler&) = delete;

  // `arguments` may be null. The handler takes over `events`.
  std::unique_ptr<StreamHandlerError<T>> OnListen(const T* arguments, std::unique_ptr<EventSink<T>>&& events) {
    return OnListenInternal(arguments, std::move(events));
  }

  // `arguments` may be null.
  std::unique_ptr<StreamHandlerError<T>> OnCancel(const T* arguments) { return OnCancelInternal(arguments); }

 protected:
  // The virtual slots, in this order.
  virtual std::unique_ptr<StreamHandlerError<T>> OnListenInternal(const T* arguments,
                                                                  std::unique_ptr<EventSink<T>>&& events) = 0;
  virtual std::unique_ptr<StreamHandlerError<T>> OnCancelInternal(const T* arguments) = 0;
};

}  // namespace flutter
