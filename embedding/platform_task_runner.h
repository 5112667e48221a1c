#pragma once

// Runs tasks on the platform thread: the thread that created the runner and pumps its messages.
// Tasks are handed over through a message-only window, so they run inside the host's own
// GetMessageW/DispatchMessageW loop, in the order they were posted.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

class PlatformTaskRunner {
 public:
  // Creates the message-only window on the calling thread; null (with `error` naming the
  // failing call) when the window cannot be created.
  static std::unique_ptr<PlatformTaskRunner> Create(std::string* error);

  // On the platform thread. Tasks still queued are dropped without running; a task that is
  // running at that moment (and destroyed this runner) finishes, and nothing runs after it.
  ~PlatformTaskRunner();

  PlatformTaskRunner(const PlatformTaskRunner&) = delete;
  PlatformTaskRunner& operator=(const PlatformTaskRunner&) = delete;

  // Any thread. Tasks must not throw; one that does is reported and skipped.
  void Post(std::function<void()> task);

 private:
  // Shared with the window procedure while it runs tasks, so a task that destroys the runner
  // leaves the procedure something valid to look at: the queue, now closed.
  struct Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    // True while a wake-up message is on its way; later posts then need not send another.
    bool wake_posted = false;
    bool closed = false;
  };

  PlatformTaskRunner();

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static void RunQueuedTasks(const std::shared_ptr<Queue>& queue);

  std::shared_ptr<Queue> queue_;
  WindowHandle window_;
};

}  // namespace pel_mora::embedding
