#pragma once

#include <memory>

#include "channel/flutter_engine.h"
#include "channel/flutter_view_controller.h"
#include "channel/plugin_registrar.h"
#include "runner/win32_window.h"

// The host window: starts the Flutter engine and view at the client size when the window has
// been created, registers the plugins, hosts the view as its child and shows itself with
// Flutter's first frame. Every window message is offered to the view controller first.
class FlutterWindow : public Win32Window {
 public:
  explicit FlutterWindow(const flutter::EngineProject& project);
  ~FlutterWindow() override;

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT MessageHandler(HWND window, UINT const message, WPARAM const wparam, LPARAM const lparam) noexcept override;

 private:
  flutter::EngineProject project_;

  // ORDER: members are destroyed bottom-up, so the registrar (and with it the plugin) goes first,
  // then the view controller if it is still there.
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
  std::unique_ptr<flutter::PluginRegistrarWindows> plugin_registrar_;
};
