#pragma once

#include "channel/flutter_embedding.h"

namespace flutter {

// The view that renders the Flutter interface; its native window is a child window that the host
// parents into its own. Does not own the view: the view controller's end ends it.
class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  HWND GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter
