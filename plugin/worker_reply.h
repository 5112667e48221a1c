#pragma once

#include <string>
#include <variant>

#include "channel/encodable_value.h"

namespace pel_mora {

// An error reply an operation chooses itself (most operations report failures as counters or
// false results instead; the worker's catch-all error is added by the dispatcher, not here).
struct WorkerError {
  std::string code;
  std::string message;
};

// The answer of an operation that is not built yet.
struct NotImplementedReply {};

// What a worker operation hands back to the worker, which completes the call's result with it.
using WorkerReply = std::variant<flutter::EncodableValue, WorkerError, NotImplementedReply>;

}  // namespace pel_mora
