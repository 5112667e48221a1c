#include "embedding/platform_task_runner.h"

#include <utility>

#include "embedding/diagnostics.h"

namespace pel_mora::embedding {

namespace {

constexpr wchar_t kWindowClassName[] = L"PELMORA_STANDIN_PLATFORM_TASKS";
constexpr UINT kRunTasksMessage = WM_APP + 1;

// The window class, registered once per process on first use and never unregistered while a
// window of it may exist; the system drops the registration when the process ends.
bool EnsureWindowClass(WNDPROC procedure, std::string* error) {
  static const DWORD registration_error = [procedure]() -> DWORD {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClassName;
    return RegisterClassExW(&window_class) == 0 ? GetLastError() : ERROR_SUCCESS;
  }();
  if (registration_error != ERROR_SUCCESS) {
    *error = "RegisterClassExW failed with error " + std::to_string(registration_error);
    return false;
  }
  return true;
}

}  // namespace

PlatformTaskRunner::PlatformTaskRunner() : queue_(std::make_shared<Queue>()) {}

std::unique_ptr<PlatformTaskRunner> PlatformTaskRunner::Create(std::string* error) {
  if (!EnsureWindowClass(&PlatformTaskRunner::WindowProcedure, error)) {
    return nullptr;
  }
  std::unique_ptr<PlatformTaskRunner> runner(new PlatformTaskRunner());
  // HWND_MESSAGE as the parent makes a message-only window: never shown, never enumerated,
  // but its messages go through the creating thread's queue like any other window's.
  HWND window = CreateWindowExW(0, kWindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    *error = "CreateWindowExW of the platform task window failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  runner->window_ = WindowHandle(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(runner.get()));
  return runner;
}

PlatformTaskRunner::~PlatformTaskRunner() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->closed = true;
    dropped.swap(queue_->tasks);
  }
  // The window goes before the dropped tasks do, so nothing in it can reach this object again.
  SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
  window_.Reset();
}

void PlatformTaskRunner::Post(std::function<void()> task) {
  bool send_wake = false;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    if (queue_->closed) {
      return;
    }
    queue_->tasks.push_back(std::move(task));
    send_wake = !queue_->wake_posted;
    queue_->wake_posted = true;
  }
  if (send_wake && !PostMessageW(window_.get(), kRunTasksMessage, 0, 0)) {
    // A full message queue refuses the post; let the next Post try again rather than leave
    // the tasks waiting for a wake-up that never comes.
    const DWORD post_error = GetLastError();
    {
      std::lock_guard<std::mutex> lock(queue_->mutex);
      queue_->wake_posted = false;
    }
    WriteDiagnosticLine("Stand-in embedding: PostMessageW to the platform task window failed with error " +
                        std::to_string(post_error));
  }
}

void PlatformTaskRunner::RunQueuedTasks(const std::shared_ptr<Queue>& queue) {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      if (queue->closed || queue->tasks.empty()) {
        queue->wake_posted = false;
        return;
      }
      task = std::move(queue->tasks.front());
      queue->tasks.pop_front();
    }
    // One task at a time, the lock released: a task may post more tasks, or destroy the runner.
    try {
      task();
    } catch (...) {
      WriteDiagnosticLine("Stand-in embedding: a platform task threw an exception; it was skipped");
    }
  }
}

LRESULT CALLBACK PlatformTaskRunner::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunTasksMessage) {
    auto* runner = reinterpret_cast<PlatformTaskRunner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (runner != nullptr) {
      // A copy of the owner, so the queue outlives a task that destroys the runner.
      const std::shared_ptr<Queue> queue = runner->queue_;
      RunQueuedTasks(queue);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace pel_mora::embedding
