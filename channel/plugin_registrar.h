#pragma once

#include <memory>
#include <set>

#include "channel/binary_messenger.h"
#include "channel/binary_messenger_impl.h"
#include "channel/flutter_embedding.h"
#include "channel/flutter_view.h"
#include "channel/texture_registrar.h"

namespace flutter {

// The base of every plugin. A plugin lives as long as the registrar it was added to.
class Plugin {
 public:
  Plugin() = default;
  virtual ~Plugin() = default;

  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
};

// What one plugin gets from the engine: a messenger, a texture registrar, and a place to live.
// Platform thread only.
class PluginRegistrar {
 public:
  explicit PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar);
  // Destroys the plugins first, while the messenger they use still exists.
  virtual ~PluginRegistrar();

  PluginRegistrar(const PluginRegistrar&) = delete;
  PluginRegistrar& operator=(const PluginRegistrar&) = delete;

  FlutterDesktopPluginRegistrarRef registrar() const { return registrar_; }
  BinaryMessenger* messenger() const { return messenger_.get(); }
  TextureRegistrar* texture_registrar() const { return texture_registrar_.get(); }

  // Keeps `plugin` alive until ClearPlugins or the registrar's destruction.
  void AddPlugin(std::unique_ptr<Plugin> plugin);
  void ClearPlugins();

 private:
  FlutterDesktopPluginRegistrarRef registrar_;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::unique_ptr<TextureRegistrarImpl> texture_registrar_;
  std::set<std::unique_ptr<Plugin>> plugins_;
};

// The registrar of a plugin on Windows, which may also reach the engine's view.
class PluginRegistrarWindows : public PluginRegistrar {
 public:
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef registrar);
  ~PluginRegistrarWindows() override;

  // Null when the registrar has no view.
  FlutterView* GetView() const { return view_.get(); }

 private:
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
