#pragma once

#include <windows.h>

#include <utility>

namespace pel_mora {

// Owns a directory-listing handle from FindFirstFileExW and closes it with FindClose, so a walk
// that returns early (cancellation, an exception) never leaks one. A failed FindFirstFileExW
// gives INVALID_HANDLE_VALUE, not null, and that is the empty state here.
class FindHandle {
 public:
  FindHandle() = default;
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() { Close(); }

  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  FindHandle(FindHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  FindHandle& operator=(FindHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }

  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  void Close() {
    if (IsValid()) {
      FindClose(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace pel_mora
