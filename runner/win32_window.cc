#include "runner/win32_window.h"

#include <dwmapi.h>

#include "channel/flutter_embedding.h"
#include "runner/resource.h"

namespace {

constexpr const wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// Immersive dark mode; older SDK headers lack the name.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;

constexpr const wchar_t kThemeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr const wchar_t kThemeValue[] = L"AppsUseLightTheme";

// How many Win32Window objects are alive. Together with the registrar's flag it decides when the
// class is unregistered: only once the last window object is gone, so a second window keeps it.
int g_active_window_count = 0;

// Logical pixels to physical ones, truncated toward zero.
int Scale(unsigned int source, double scale_factor) {
  return static_cast<int>(source * scale_factor);
}

// Turns on the scaling of the non-client area (title bar, borders) on systems that offer it. The
// export is missing on older systems, hence the run-time look-up.
void EnableFullDpiSupportIfAvailable(HWND window) {
  HMODULE user32_module = LoadLibraryA("User32.dll");
  if (user32_module == nullptr) {
    return;
  }
  using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);
  auto enable_non_client_dpi_scaling = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32_module, "EnableNonClientDpiScaling")));
  if (enable_non_client_dpi_scaling != nullptr) {
    enable_non_client_dpi_scaling(window);
  }
  FreeLibrary(user32_module);
}

}  // namespace

// Registers the window class on first use and unregisters it when asked; a lazily created
// singleton so that the flag lives as long as the process needs it.
class WindowClassRegistrar {
 public:
  static WindowClassRegistrar* GetInstance() {
    static WindowClassRegistrar* const instance = new WindowClassRegistrar();
    return instance;
  }

  // False when RegisterClassW fails.
  bool EnsureRegistered() {
    if (class_registered_) {
      return true;
    }
    WNDCLASSW window_class{};
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClassName;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hIcon = LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
    window_class.hbrBackground = nullptr;
    window_class.lpszMenuName = nullptr;
    window_class.lpfnWndProc = Win32Window::WndProc;
    if (RegisterClassW(&window_class) == 0) {
      return false;
    }
    class_registered_ = true;
    return true;
  }

  void Unregister() {
    UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  WindowClassRegistrar() = default;

  bool class_registered_ = false;
};

Win32Window::Win32Window() {
  ++g_active_window_count;
}

Win32Window::~Win32Window() {
  --g_active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();

  if (!WindowClassRegistrar::GetInstance()->EnsureRegistered()) {
    return false;
  }

  const POINT target_point = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale_factor = dpi / 96.0;

  // Created without WS_VISIBLE: the window shows itself once there is something to show.
  HWND window = CreateWindowExW(0, kWindowClassName, title.c_str(), WS_OVERLAPPEDWINDOW, Scale(origin.x, scale_factor),
                                Scale(origin.y, scale_factor), Scale(size.width, scale_factor),
                                Scale(size.height, scale_factor), nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    return false;
  }

  UpdateTheme(window);
  return OnCreate();
}

bool Win32Window::Show() {
  return ShowWindow(window_handle_, SW_SHOWNORMAL);
}

LRESULT CALLBACK Win32Window::WndProc(HWND const window, UINT const message, WPARAM const wparam,
                                      LPARAM const lparam) noexcept {
  if (message == WM_NCCREATE) {
    // The first message that carries the creation parameters: from here on every message of this
    // window reaches the object.
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create_struct->lpCreateParams));
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    EnableFullDpiSupportIfAvailable(window);
    that->window_handle_ = window;
  } else if (Win32Window* that = GetThisFromHandle(window)) {
    return that->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                                    LPARAM const lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_close_) {
        PostQuitMessage(0);
      }
      return 0;

    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      if (child_content_ != nullptr) {
        const RECT rect = GetClientArea();
        MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_ != nullptr) {
        SetFocus(child_content_);
      }
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      UpdateTheme(window);
      return 0;
  }

  // The window passed in rather than the stored handle: after WM_DESTROY the stored one is already
  // cleared, yet WM_NCDESTROY still arrives here and must reach the default procedure.
  return DefWindowProcW(window, message, wparam, lparam);
}

void Win32Window::Destroy() {
  OnDestroy();

  if (window_handle_ != nullptr) {
    // DestroyWindow sends WM_DESTROY, whose handling clears the handle and comes back here with
    // nothing left to destroy.
    HWND window = window_handle_;
    window_handle_ = nullptr;
    DestroyWindow(window);
  }
  if (g_active_window_count == 0) {
    WindowClassRegistrar::GetInstance()->Unregister();
  }
}

Win32Window* Win32Window::GetThisFromHandle(HWND const window) noexcept {
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_);
  const RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::GetClientArea() const {
  RECT frame{};
  GetClientRect(window_handle_, &frame);
  return frame;
}

bool Win32Window::OnCreate() {
  return true;
}

void Win32Window::OnDestroy() {}

void Win32Window::UpdateTheme(HWND const window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS result = RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue, RRF_RT_REG_DWORD, nullptr,
                                      &light_mode, &light_mode_size);
  if (result == ERROR_SUCCESS) {
    const BOOL enable_dark_mode = light_mode == 0;
    DwmSetWindowAttribute(window, kDwmUseImmersiveDarkMode, &enable_dark_mode, sizeof(enable_dark_mode));
  }
}
