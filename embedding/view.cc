#include "embedding/view.h"

#include <algorithm>
#include <utility>

#include "embedding/diagnostics.h"
#include "embedding/engine.h"

namespace pel_mora::embedding {

namespace {

constexpr wchar_t kViewClassName[] = L"PELMORA_STANDIN_VIEW";

// Registered once per process on first use; the system drops the registration at exit.
bool EnsureViewClass(WNDPROC procedure, std::string* error) {
  static const DWORD registration_error = [procedure]() -> DWORD {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    // Redrawn whole when resized: the surface is one plain fill.
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kViewClassName;
    return RegisterClassExW(&window_class) == 0 ? GetLastError() : ERROR_SUCCESS;
  }();
  if (registration_error != ERROR_SUCCESS) {
    *error = "RegisterClassExW failed with error " + std::to_string(registration_error);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<View> View::Create(int width, int height, std::string* error) {
  if (!EnsureViewClass(&View::WindowProcedure, error)) {
    return nullptr;
  }
  width = std::max(width, 0);
  height = std::max(height, 0);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  std::unique_ptr<View> view(new View());
  // A child window needs a parent from its creation on, and the host only adopts the view
  // afterwards; a hidden pop-up window holds it until then.
  view->holder_ = WindowHandle(
      CreateWindowExW(WS_EX_TOOLWINDOW, kViewClassName, L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                      instance, nullptr));
  if (view->holder_.get() == nullptr) {
    *error = "CreateWindowExW of the view's holder failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  view->window_ = WindowHandle(CreateWindowExW(0, kViewClassName, L"",
                                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                               width, height, view->holder_.get(), nullptr, instance, view.get()));
  if (view->window_.get() == nullptr) {
    *error = "CreateWindowExW of the view failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  return view;
}

View::~View() {
  if (window_.get() != nullptr) {
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
  }
  window_.Reset();
}

void View::Redraw() {
  if (window_.get() != nullptr) {
    InvalidateRect(window_.get(), nullptr, TRUE);
  }
}

bool View::PostCloseToTopLevelWindow() const {
  if (window_.get() == nullptr) {
    return false;
  }
  const HWND top_level = GetAncestor(window_.get(), GA_ROOT);
  if (top_level == nullptr || top_level == holder_.get()) {
    return false;
  }
  return PostMessageW(top_level, WM_CLOSE, 0, 0) != FALSE;
}

LRESULT CALLBACK View::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      // Only the view window itself carries its object; the holder carries none.
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
      break;
    }
    case WM_NCDESTROY: {
      // Destroyed from outside (with the host window it was adopted by): forget the handle, so
      // the view never destroys a window that is gone, or one that reuses its handle.
      auto* view = reinterpret_cast<View*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (view != nullptr && view->window_.get() == window) {
        view->window_.Release();
      }
      break;
    }
    case WM_ERASEBKGND:
      // WM_PAINT fills everything; erasing first would only flicker.
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC context = BeginPaint(window, &paint);
      if (context != nullptr) {
        FillRect(context, &paint.rcPaint, GetSysColorBrush(COLOR_WINDOW));
      }
      EndPaint(window, &paint);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

ViewController::ViewController(std::unique_ptr<View> view, std::unique_ptr<Engine> engine)
    : view_(std::move(view)), engine_(std::move(engine)) {}

std::unique_ptr<ViewController> ViewController::Create(int width, int height, std::unique_ptr<Engine> engine) {
  if (!engine) {
    return nullptr;
  }
  std::string error;
  std::unique_ptr<View> view = View::Create(width, height, &error);
  if (!view) {
    WriteDiagnosticLine("Stand-in embedding: cannot create the view: " + error);
    return nullptr;
  }
  if (!engine->Run(view.get())) {
    return nullptr;
  }
  return std::unique_ptr<ViewController>(new ViewController(std::move(view), std::move(engine)));
}

ViewController::~ViewController() {
  engine_.reset();
  view_.reset();
}

}  // namespace pel_mora::embedding
