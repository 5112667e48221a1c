#pragma once

#include <string>

#include "channel/encodable_value.h"

namespace flutter {

// The one-shot reply to a method call. Exactly one of Success, Error or NotImplemented is called,
// once, from any thread. What a second completion or a destruction without one does is up to the
// implementation (the messenger's result drops the one and answers the other empty).
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success(const T& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }

  void Error(const std::string& error_code, const std::string& error_message, const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // The virtual slots, in this order. A null pointer means "no value" / "no details".
  virtual void SuccessInternal(const T* result) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter
