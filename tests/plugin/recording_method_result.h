#pragma once

// Test doubles for the dispatcher: a method result that records its completions, and a scanner
// that records what it was asked to do.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_result.h"
#include "plugin/drives/scan_control.h"

namespace flutter {

// Short, readable values in assertion messages instead of gtest's byte dumps.
inline void PrintTo(const EncodableValue& value, std::ostream* stream) {
  if (value.IsNull()) {
    *stream << "null";
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    *stream << (*flag ? "true" : "false");
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    *stream << '"' << *text << '"';
  } else if (std::holds_alternative<int32_t>(value) || std::holds_alternative<int64_t>(value)) {
    *stream << value.LongValue();
  } else {
    *stream << "<value of alternative " << value.index() << ">";
  }
}

}  // namespace flutter

namespace pel_mora::testing {

enum class CompletionKind { kNone, kSuccess, kError, kNotImplemented };

inline std::ostream& operator<<(std::ostream& stream, CompletionKind kind) {
  switch (kind) {
    case CompletionKind::kNone:
      return stream << "none";
    case CompletionKind::kSuccess:
      return stream << "Success";
    case CompletionKind::kError:
      return stream << "Error";
    case CompletionKind::kNotImplemented:
      return stream << "NotImplemented";
  }
  return stream;
}

// One completion of a result.
struct RecordedReply {
  CompletionKind kind = CompletionKind::kNone;
  flutter::EncodableValue value;
  std::string error_code;
  std::string error_message;
  bool has_error_details = false;
};

// What one result went through, shared between the test and the result object (which the
// dispatcher, and then a worker, owns). Completions may arrive from any thread.
class ReplyRecord {
 public:
  // Long enough for a loaded machine; only a broken dispatcher ever reaches it.
  static constexpr std::chrono::seconds kHangGuard{60};

  void Complete(RecordedReply reply) {
    std::lock_guard lock(mutex_);
    if (completion_count_ == 0) {
      first_reply_ = std::move(reply);
    }
    ++completion_count_;
    changed_.notify_all();
  }

  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  // Waits for the first completion; false when none came.
  bool WaitForCompletion() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [this] { return completion_count_ > 0; });
  }

  // Waits until the result object is destroyed; after that no further completion can arrive,
  // so the count is final.
  bool WaitForRelease() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [this] { return released_; });
  }

  int completion_count() const {
    std::lock_guard lock(mutex_);
    return completion_count_;
  }

  bool released() const {
    std::lock_guard lock(mutex_);
    return released_;
  }

  RecordedReply reply() const {
    std::lock_guard lock(mutex_);
    return first_reply_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int completion_count_ = 0;
  bool released_ = false;
  RecordedReply first_reply_;
};

class RecordingMethodResult : public flutter::MethodResult<> {
 public:
  explicit RecordingMethodResult(std::shared_ptr<ReplyRecord> record) : record_(std::move(record)) {}
  ~RecordingMethodResult() override { record_->Release(); }

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    RecordedReply reply;
    reply.kind = CompletionKind::kSuccess;
    if (result != nullptr) {
      reply.value = *result;
    }
    record_->Complete(std::move(reply));
  }

  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const flutter::EncodableValue* error_details) override {
    RecordedReply reply;
    reply.kind = CompletionKind::kError;
    reply.error_code = error_code;
    reply.error_message = error_message;
    reply.has_error_details = error_details != nullptr && !error_details->IsNull();
    record_->Complete(std::move(reply));
  }

  void NotImplementedInternal() override {
    RecordedReply reply;
    reply.kind = CompletionKind::kNotImplemented;
    record_->Complete(std::move(reply));
  }

 private:
  std::shared_ptr<ReplyRecord> record_;
};

// A result to hand to the dispatcher, and the record the test keeps.
struct RecordingResult {
  std::shared_ptr<ReplyRecord> record = std::make_shared<ReplyRecord>();
  std::unique_ptr<flutter::MethodResult<>> result = std::make_unique<RecordingMethodResult>(record);
};

// Records the scanner calls; can be told to fail its start as a scanner whose thread cannot
// be created would.
class RecordingScanner : public ScanControl {
 public:
  enum class StartBehaviour { kStarts, kThrows };

  explicit RecordingScanner(StartBehaviour behaviour = StartBehaviour::kStarts) : behaviour_(behaviour) {}

  void Start(wchar_t letter) override {
    started_letters_.push_back(letter);
    if (behaviour_ == StartBehaviour::kThrows) {
      throw std::runtime_error("scan thread could not be created");
    }
  }

  void Cancel() override { ++cancel_count_; }

  const std::vector<wchar_t>& started_letters() const { return started_letters_; }
  int cancel_count() const { return cancel_count_; }

 private:
  StartBehaviour behaviour_;
  std::vector<wchar_t> started_letters_;
  int cancel_count_ = 0;
};

}  // namespace pel_mora::testing
