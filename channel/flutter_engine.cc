#include "channel/flutter_engine.h"

#include <exception>
#include <utility>

#include "channel/diagnostic_output.h"

namespace flutter {

FlutterEngine::FlutterEngine(const EngineProject& project) {
  // Every pointer borrows from `project` (and `argument_pointers`) for the duration of the call.
  std::vector<const char*> argument_pointers;
  argument_pointers.reserve(project.dart_entrypoint_arguments.size());
  for (const std::string& argument : project.dart_entrypoint_arguments) {
    argument_pointers.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path.c_str();
  properties.icu_data_path = project.icu_data_path.c_str();
  properties.aot_library_path = project.aot_library_path.c_str();
  properties.dart_entrypoint = project.dart_entrypoint.c_str();
  properties.dart_entrypoint_argc = static_cast<int>(argument_pointers.size());
  properties.dart_entrypoint_argv = argument_pointers.empty() ? nullptr : argument_pointers.data();
  properties.gpu_preference = project.gpu_preference;
  properties.platform_thread_priority = project.platform_thread_priority;

  engine_ = FlutterDesktopEngineCreate(&properties);
  messenger_ = std::make_unique<BinaryMessengerImpl>(engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_)
                                                                         : nullptr);
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    WriteDiagnosticLine("Cannot get plugin registrar on an engine that isn't running; call Run first.");
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  if (engine_ != nullptr) {
    FlutterDesktopEngineSetNextFrameCallback(engine_, OnNextFrame, this);
  }
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* engine = static_cast<FlutterEngine*>(user_data);
  // Taken out before the call, so it runs once and a callback may set the next one.
  std::function<void()> callback = std::move(engine->next_frame_callback_);
  engine->next_frame_callback_ = nullptr;
  if (!callback) {
    return;
  }
  // A C callback: nothing may unwind into the embedding.
  try {
    callback();
  } catch (const std::exception& error) {
    WriteDiagnosticLine(std::string("Unhandled exception in the next-frame callback: ") + error.what());
  } catch (...) {
    WriteDiagnosticLine("Unhandled exception in the next-frame callback.");
  }
}

}  // namespace flutter
