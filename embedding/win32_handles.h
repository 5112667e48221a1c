#pragma once

// Small owners for the Win32 and Winsock handles of the stand-in embedding, so nothing leaks on
// an early return. Each is move-only and gives its handle back in its destructor.

#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace pel_mora::embedding {

// A kernel object handle closed with CloseHandle (events here).
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) : handle_(handle) {}
  ~KernelHandle() { Reset(); }
  KernelHandle(KernelHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  KernelHandle& operator=(KernelHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
      handle_ = nullptr;
    }
  }

 private:
  HANDLE handle_ = nullptr;
};

// A window destroyed with DestroyWindow. Must be reset on the thread that created the window.
class WindowHandle {
 public:
  WindowHandle() = default;
  explicit WindowHandle(HWND window) : window_(window) {}
  ~WindowHandle() { Reset(); }
  WindowHandle(WindowHandle&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
  WindowHandle& operator=(WindowHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      window_ = std::exchange(other.window_, nullptr);
    }
    return *this;
  }
  WindowHandle(const WindowHandle&) = delete;
  WindowHandle& operator=(const WindowHandle&) = delete;

  HWND get() const { return window_; }
  void Reset() {
    if (window_ != nullptr) {
      DestroyWindow(std::exchange(window_, nullptr));
    }
  }
  // Forgets a window that the system has already destroyed (seen in WM_NCDESTROY).
  void Release() { window_ = nullptr; }

 private:
  HWND window_ = nullptr;
};

// A module loaded with LoadLibraryW.
class ModuleHandle {
 public:
  explicit ModuleHandle(HMODULE module) : module_(module) {}
  ~ModuleHandle() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;

  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// A socket closed with closesocket.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(SOCKET socket) : socket_(socket) {}
  ~SocketHandle() { Reset(); }
  SocketHandle(SocketHandle&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      socket_ = std::exchange(other.socket_, INVALID_SOCKET);
    }
    return *this;
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  SOCKET get() const { return socket_; }
  explicit operator bool() const { return socket_ != INVALID_SOCKET; }
  void Reset() {
    if (socket_ != INVALID_SOCKET) {
      closesocket(std::exchange(socket_, INVALID_SOCKET));
    }
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// One use of Winsock: WSAStartup at construction, WSACleanup at destruction when it started.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    result_ = WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockSession() {
    if (result_ == 0) {
      WSACleanup();
    }
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  // 0 when Winsock is ready, else the WSAStartup error code.
  int result() const { return result_; }

 private:
  int result_ = 0;
};

}  // namespace pel_mora::embedding
