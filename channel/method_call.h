#pragma once

#include <memory>
#include <string>

#include "channel/encodable_value.h"

namespace flutter {

// One method call of a method channel: the method's UTF-8 name and its optional arguments.
// A call decoded from a message always carries an arguments value (null when none was sent).
template <typename T = EncodableValue>
class MethodCall {
 public:
  MethodCall(const std::string& method_name, std::unique_ptr<T> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }

  // Null when the call has no arguments value at all.
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter
