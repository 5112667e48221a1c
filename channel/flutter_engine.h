#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/binary_messenger_impl.h"
#include "channel/flutter_embedding.h"

namespace flutter {

// Describes the Flutter application the engine runs. A plain value: whoever keeps it keeps a copy.
struct EngineProject {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  // UTF-8; empty selects the default entry point.
  std::string dart_entrypoint;
  // UTF-8, handed to the entry point in this order.
  std::vector<std::string> dart_entrypoint_arguments;
  // Further engine options, passed on unchanged; zero unless set.
  int gpu_preference = 0;
  int platform_thread_priority = 0;
};

// Hands out the embedding's registrar for a plugin, by the plugin's name.
class PluginRegistry {
 public:
  PluginRegistry() = default;
  virtual ~PluginRegistry() = default;

  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  virtual FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) = 0;
};

// Owns an engine of the embedding until a view controller takes it over (RelinquishEngine). All of
// it is used on the platform thread.
class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine; when the embedding refuses, the object has no engine (and a messenger that
  // drops everything).
  explicit FlutterEngine(const EngineProject& project);
  ~FlutterEngine() override;

  BinaryMessenger* messenger() { return messenger_.get(); }

  // Null, after a report, when there is no engine.
  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) override;

  void ReloadSystemFonts();

  // Runs `callback` once, on the platform thread, after the engine's next frame.
  void SetNextFrameCallback(std::function<void()> callback);

  // Gives up ownership: from now on whoever took the handle ends the engine, and this object's
  // destruction destroys nothing.
  FlutterDesktopEngineRef RelinquishEngine();

 private:
  // The embedding's next-frame callback; `user_data` is the engine object.
  static void OnNextFrame(void* user_data);

  FlutterDesktopEngineRef engine_ = nullptr;
  bool owns_engine_ = true;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter
