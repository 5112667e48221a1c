#include "channel/flutter_view_controller.h"

#include "channel/diagnostic_output.h"

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const EngineProject& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  // From here on only this controller's destruction ends the engine.
  controller_ = FlutterDesktopViewControllerCreate(width, height, engine_->RelinquishEngine());
  if (controller_ == nullptr) {
    WriteDiagnosticLine("Failed to create view controller.");
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
  // Then the view and this controller's share of the engine object, in that order.
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerForceRedraw(controller_);
  }
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND window,
                                                                       UINT message,
                                                                       WPARAM wparam,
                                                                       LPARAM lparam) {
  if (controller_ == nullptr) {
    return std::nullopt;
  }
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, window, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
