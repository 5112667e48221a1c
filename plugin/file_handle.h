#pragma once

#include <windows.h>

namespace pel_mora {

// Owns a file or folder handle from CreateFileW and closes it with CloseHandle, so nothing leaks
// on an early return. A failed CreateFileW gives INVALID_HANDLE_VALUE, not null, and that is the
// empty state here.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (IsValid()) {
      CloseHandle(handle_);
    }
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace pel_mora
