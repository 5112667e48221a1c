#pragma once

#include <windows.h>

#include <utility>

namespace pel_mora {

// Owns an open registry key and closes it with RegCloseKey, so a reader that skips an entry or
// returns early never leaks one. An unopened key is null.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }

  // Opens `parent`\`subkey` with `access`; false (and still closed) when the system refuses.
  bool Open(HKEY parent, const wchar_t* subkey, REGSAM access) {
    Close();
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, subkey, 0, access, &opened) != ERROR_SUCCESS) {
      return false;
    }
    key_ = opened;
    return true;
  }

  bool IsOpen() const { return key_ != nullptr; }
  HKEY Get() const { return key_; }

 private:
  void Close() {
    if (key_ != nullptr) {
      RegCloseKey(std::exchange(key_, nullptr));
    }
  }

  HKEY key_ = nullptr;
};

}  // namespace pel_mora
