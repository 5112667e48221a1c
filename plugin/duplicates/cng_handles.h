#pragma once

// Owners for the handles of the system's cryptography provider (CNG), so a provider or a hash
// object is given back on every path, early returns and exceptions included.

#include <windows.h>
#include <bcrypt.h>

#include <utility>

namespace pel_mora {

// An algorithm provider from BCryptOpenAlgorithmProvider, closed with
// BCryptCloseAlgorithmProvider.
class AlgorithmProvider {
 public:
  AlgorithmProvider() = default;
  explicit AlgorithmProvider(BCRYPT_ALG_HANDLE handle) : handle_(handle) {}
  ~AlgorithmProvider() { Reset(); }
  AlgorithmProvider(AlgorithmProvider&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  AlgorithmProvider& operator=(AlgorithmProvider&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;

  bool IsValid() const { return handle_ != nullptr; }
  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  void Reset() {
    if (handle_ != nullptr) {
      BCryptCloseAlgorithmProvider(std::exchange(handle_, nullptr), 0);
    }
  }

  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A hash object from BCryptCreateHash, destroyed with BCryptDestroyHash. It must not outlive
// the provider it was made from.
class HashObject {
 public:
  HashObject() = default;
  explicit HashObject(BCRYPT_HASH_HANDLE handle) : handle_(handle) {}
  ~HashObject() { Reset(); }
  HashObject(HashObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  HashObject& operator=(HashObject&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  HashObject(const HashObject&) = delete;
  HashObject& operator=(const HashObject&) = delete;

  bool IsValid() const { return handle_ != nullptr; }
  BCRYPT_HASH_HANDLE Get() const { return handle_; }

 private:
  void Reset() {
    if (handle_ != nullptr) {
      BCryptDestroyHash(std::exchange(handle_, nullptr));
    }
  }

  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace pel_mora
