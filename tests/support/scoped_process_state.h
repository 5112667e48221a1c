#pragma once

// Process-wide state a Windows test changes for one scope and gives back at its end: the current
// folder and environment variables, which the host's operations read.

#include <windows.h>

#include <optional>
#include <string>

namespace pel_mora::test_support {

// Sets the process's current folder for one scope.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::wstring& folder) {
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    SetCurrentDirectoryW(folder.c_str());
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryW(previous_.c_str()); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::wstring previous_;
};

// Sets an environment variable of this process for one scope (GetTempPathW reads TMP first).
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) {
      previous_ = buffer.substr(0, length);
    }
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_, previous_ ? previous_->c_str() : nullptr); }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  const wchar_t* name_;
  std::optional<std::wstring> previous_;
};

}  // namespace pel_mora::test_support
