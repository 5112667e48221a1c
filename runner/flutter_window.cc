#include "runner/flutter_window.h"

#include "channel/flutter_embedding.h"
#include "plugin/pelmora_plugin.h"

FlutterWindow::FlutterWindow(const flutter::EngineProject& project) : project_(project) {}

FlutterWindow::~FlutterWindow() = default;

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) {
    return false;
  }

  const RECT frame = GetClientArea();
  // Creating the controller creates and starts the engine.
  flutter_controller_ =
      std::make_unique<flutter::FlutterViewController>(frame.right - frame.left, frame.bottom - frame.top, project_);
  if (flutter_controller_->engine() == nullptr || flutter_controller_->view() == nullptr) {
    return false;
  }

  flutter::FlutterEngine* engine = flutter_controller_->engine();
  UrlLauncherWindowsRegisterWithRegistrar(engine->GetRegistrarForPlugin("UrlLauncherWindows"));

  plugin_registrar_ = std::make_unique<flutter::PluginRegistrarWindows>(engine->GetRegistrarForPlugin("PelmoraPlugin"));
  pel_mora::PelmoraPlugin::RegisterWithRegistrar(plugin_registrar_.get());

  SetChildContent(flutter_controller_->view()->GetNativeWindow());

  // The window stays hidden until Flutter has something to show.
  engine->SetNextFrameCallback([this]() { this->Show(); });

  // The first frame may already be done before the callback was set; make sure another one comes.
  flutter_controller_->ForceRedraw();

  return true;
}

void FlutterWindow::OnDestroy() {
  // Ends the engine. Replies produced after this are dropped by the messenger; the plugin itself
  // lives on with the registrar until the window object goes away.
  flutter_controller_.reset();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                                      LPARAM const lparam) noexcept {
  if (flutter_controller_) {
    std::optional<LRESULT> result = flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }

  if (message == WM_FONTCHANGE && flutter_controller_) {
    flutter_controller_->engine()->ReloadSystemFonts();
  }

  return Win32Window::MessageHandler(window, message, wparam, lparam);
}
