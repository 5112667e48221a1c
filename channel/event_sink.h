#pragma once

#include <string>

#include "channel/encodable_value.h"

namespace flutter {

// Where a stream's listener pushes its events. Usable from any thread, but not from two at once:
// the owner serialises every use and the destruction.
template <typename T = EncodableValue>
class EventSink {
 public:
  EventSink() = default;
  virtual ~EventSink() = default;

  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  void Success(const T& event) { SuccessInternal(&event); }
  void Success() { SuccessInternal(nullptr); }

  void Error(const std::string& error_code, const std::string& error_message, const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  void EndOfStream() { EndOfStreamInternal(); }

 protected:
  // The virtual slots, in this order. A null pointer means "no value" / "no details".
  virtual void SuccessInternal(const T* event) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) = 0;
  virtual void EndOfStreamInternal() = 0;
};

}  // namespace flutter
