#include "plugin/worker_thread.h"

#include <thread>
#include <utility>
#include <variant>

namespace pel_mora {

void LaunchDetachedThread(std::function<void()> task) {
  // Detached: the platform thread never waits for a worker, and a worker may outlive the call
  // (and the plugin) that started it. The task owns everything it touches.
  std::thread(std::move(task)).detach();
}

void CompleteResult(const WorkerReply& reply, flutter::MethodResult<>& result) {
  if (const auto* value = std::get_if<flutter::EncodableValue>(&reply)) {
    result.Success(*value);
  } else if (const auto* error = std::get_if<WorkerError>(&reply)) {
    result.Error(error->code, error->message);
  } else {
    result.NotImplemented();
  }
}

void RunWorkerOperation(const WorkerOperation& operation,
                        const WorkerReply& fallback_reply,
                        flutter::MethodResult<>& result) noexcept {
  try {
    CompleteResult(operation(), result);
  } catch (...) {
    try {
      CompleteResult(fallback_reply, result);
    } catch (...) {
      // Even the fixed reply could not be sent (out of memory while encoding it). An exception
      // leaving a thread's outermost frame would end the process, so the call stays unanswered
      // and the channel answers it empty when the result is destroyed.
    }
  }
}

void StartWorker(std::unique_ptr<flutter::MethodResult<>> result,
                 WorkerOperation operation,
                 const WorkerReply& fallback_reply,
                 const ThreadLauncher& launcher) {
  // Shared, not moved into the task outright: if the thread cannot be started the task is
  // destroyed unrun, and this frame still needs the result to answer the call. Once the launch
  // succeeds and this function returns, the task's copy is the only owner left.
  std::shared_ptr<flutter::MethodResult<>> shared_result(std::move(result));
  try {
    launcher([shared_result, operation = std::move(operation), fallback_reply]() {
      RunWorkerOperation(operation, fallback_reply, *shared_result);
    });
  } catch (...) {
    // Usually std::system_error from std::thread (no resources for another thread), possibly
    // std::bad_alloc. The task never ran, so this is the call's only reply.
    CompleteResult(fallback_reply, *shared_result);
  }
}

}  // namespace pel_mora
