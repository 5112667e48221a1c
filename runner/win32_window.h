#pragma once

#include <windows.h>

#include <string>

// A top-level window that registers its class on first use, is created DPI-scaled and hidden,
// follows the user's light or dark setting, keeps one child window filling its client area, and
// turns window messages into virtual calls. Platform thread only.
class Win32Window {
 public:
  struct Point {
    unsigned int x;
    unsigned int y;
    Point(unsigned int x, unsigned int y) : x(x), y(y) {}
  };

  struct Size {
    unsigned int width;
    unsigned int height;
    Size(unsigned int width, unsigned int height) : width(width), height(height) {}
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window hidden, with `origin` and `size` in logical pixels scaled to the DPI of the
  // monitor nearest to `origin`. False when the window cannot be created or OnCreate fails.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Shows the window normally.
  bool Show();

  // Runs OnDestroy, destroys the window, and unregisters the class when no window object is left.
  void Destroy();

  // Adopts `content` as the child that fills the client area and takes the keyboard focus.
  void SetChildContent(HWND content);

  HWND GetHandle() const { return window_handle_; }

  // When set, destroying the window posts the quit message that ends the message loop.
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }

  RECT GetClientArea() const;

 protected:
  // Every message of the window once the object is attached (from WM_NCCREATE on).
  virtual LRESULT MessageHandler(HWND window, UINT const message, WPARAM const wparam, LPARAM const lparam) noexcept;

  // Called at the end of Create; a false return makes Create fail.
  virtual bool OnCreate();

  // Called when the window is being destroyed.
  virtual void OnDestroy();

 private:
  friend class WindowClassRegistrar;

  // The class's one window procedure: attaches the object at WM_NCCREATE and forwards the rest.
  static LRESULT CALLBACK WndProc(HWND const window, UINT const message, WPARAM const wparam,
                                  LPARAM const lparam) noexcept;

  static Win32Window* GetThisFromHandle(HWND const window) noexcept;

  // Sets the dark title bar when the user chose the dark app theme; leaves it alone when the
  // setting is missing.
  static void UpdateTheme(HWND const window);

  bool quit_on_close_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};
