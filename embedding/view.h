#pragma once

// The view behind FlutterDesktopViewRef: a real child window that paints a plain surface where
// the interface would be drawn, and the view controller that owns it and the engine.

#include <memory>
#include <string>

#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

class Engine;

class View {
 public:
  // On the platform thread. The child window starts inside a hidden holder window of the view's
  // own until the host adopts it with SetParent. Null with `error` naming the failing call.
  static std::unique_ptr<View> Create(int width, int height, std::string* error);
  ~View();

  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Null once the window has been destroyed (for instance with the host's window).
  HWND window() const { return window_.get(); }

  // Repaints the whole surface.
  void Redraw();

  // Posts WM_CLOSE to the top-level window that holds the view, as the system does when a user
  // closes it. False when the view is in no host window (still in its holder, or destroyed).
  bool PostCloseToTopLevelWindow() const;

 private:
  View() = default;

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Declared first, so it is destroyed after the view window it may still hold.
  WindowHandle holder_;
  WindowHandle window_;
};

class ViewController {
 public:
  // Takes the engine and starts it with a new view of the given size. Null on failure, and the
  // engine is then destroyed.
  static std::unique_ptr<ViewController> Create(int width, int height, std::unique_ptr<Engine> engine);
  // Ends the engine first, while the view it draws into still exists, then the view.
  ~ViewController();

  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  Engine* engine() const { return engine_.get(); }
  View* view() const { return view_.get(); }

 private:
  ViewController(std::unique_ptr<View> view, std::unique_ptr<Engine> engine);

  std::unique_ptr<View> view_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace pel_mora::embedding
