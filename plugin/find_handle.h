#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

#include "plugin/file_time.h"

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

// What one entry of a listing says, in the forms every walk uses.

// The "." and ".." entries, which a walk must never descend into or count.
inline bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

inline uint64_t FoundFileSize(const WIN32_FIND_DATAW& entry) {
  return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

inline int64_t LastWriteUnixSeconds(const WIN32_FIND_DATAW& entry) {
  const FILETIME& time = entry.ftLastWriteTime;
  return FileTimeToUnixSeconds((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace pel_mora
