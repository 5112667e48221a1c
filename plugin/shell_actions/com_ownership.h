#pragma once

// Owners for what COM hands out on a worker thread: the thread's apartment, interface pointers
// and shell-allocated text. Declare the apartment first in a scope so that it is left last:
// every interface must be released before CoUninitialize.

#include <objbase.h>
#include <windows.h>

#include <utility>

namespace pel_mora {

// Joins the calling thread to a single-threaded apartment for the object's lifetime. When the
// join fails (for example the thread already belongs to a multithreaded apartment) the work is
// still attempted and CoUninitialize is not called; S_FALSE (already joined) must be balanced.
class ComApartment {
 public:
  ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (initialized_) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_;
};

// One reference to a COM interface, released on destruction.
template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() { Reset(); }
  ComPointer(ComPointer&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPointer& operator=(ComPointer&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // For the out-parameter of a call that hands over a new reference; releases any held one first.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  // The same, typed for calls such as CoCreateInstance that take a void**.
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  void Reset() {
    if (pointer_ != nullptr) {
      std::exchange(pointer_, nullptr)->Release();
    }
  }

 private:
  Interface* pointer_ = nullptr;
};

// Text that the shell allocated with CoTaskMemAlloc (GetDisplayName's result).
class CoTaskMemText {
 public:
  CoTaskMemText() = default;
  ~CoTaskMemText() { CoTaskMemFree(text_); }
  CoTaskMemText(const CoTaskMemText&) = delete;
  CoTaskMemText& operator=(const CoTaskMemText&) = delete;

  const wchar_t* Get() const { return text_; }
  wchar_t** Receive() {
    CoTaskMemFree(std::exchange(text_, nullptr));
    return &text_;
  }

 private:
  wchar_t* text_ = nullptr;
};

}  // namespace pel_mora
