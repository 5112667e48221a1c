#pragma once

// The reply pattern of every method that does its work off the platform thread: the call's
// result goes into shared ownership, a task holding it and the argument copies runs on a
// detached thread, and the task completes the result exactly once, whatever the operation does.

#include <functional>
#include <memory>

#include "channel/method_result.h"
#include "plugin/worker_reply.h"

namespace pel_mora {

// One method's work with its argument copies already bound in; runs on the worker thread.
using WorkerOperation = std::function<WorkerReply()>;

// Runs `task` on a new thread and returns without waiting for it. Throws when no thread could be
// started (std::thread throws std::system_error); the task has then not run and never will.
using ThreadLauncher = std::function<void(std::function<void()> task)>;

// The launcher of the product: a std::thread, detached at once.
void LaunchDetachedThread(std::function<void()> task);

// Completes `result` with `reply`: Success with the value, Error with the code, the message and
// null details, or NotImplemented.
void CompleteResult(const WorkerReply& reply, flutter::MethodResult<>& result);

// Runs `operation` and completes `result` with its reply. Any exception, of whatever type, is
// answered with `fallback_reply` instead; the exception's own text never reaches the interface.
// Nothing escapes: this is the outermost frame of a worker thread.
void RunWorkerOperation(const WorkerOperation& operation,
                        const WorkerReply& fallback_reply,
                        flutter::MethodResult<>& result) noexcept;

// Hands `operation` and `result` to a worker thread started through `launcher`, which answers
// as RunWorkerOperation does. When the thread cannot be started the call is answered at once
// with `fallback_reply`, so no call is left without a reply.
void StartWorker(std::unique_ptr<flutter::MethodResult<>> result,
                 WorkerOperation operation,
                 const WorkerReply& fallback_reply,
                 const ThreadLauncher& launcher);

}  // namespace pel_mora
