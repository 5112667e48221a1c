#include "channel/plugin_registrar.h"

#include <utility>

namespace flutter {

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar)
    : registrar_(registrar),
      messenger_(std::make_unique<BinaryMessengerImpl>(FlutterDesktopPluginRegistrarGetMessenger(registrar))),
      texture_registrar_(
          std::make_unique<TextureRegistrarImpl>(FlutterDesktopRegistrarGetTextureRegistrar(registrar))) {}

PluginRegistrar::~PluginRegistrar() {
  // A plugin may still use the messenger while it is destroyed, so the messenger outlives them all.
  ClearPlugins();
  messenger_.reset();
  texture_registrar_.reset();
}

void PluginRegistrar::AddPlugin(std::unique_ptr<Plugin> plugin) {
  plugins_.insert(std::move(plugin));
}

void PluginRegistrar::ClearPlugins() {
  plugins_.clear();
}

PluginRegistrarWindows::PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef registrar)
    : PluginRegistrar(registrar) {
  FlutterDesktopViewRef view = FlutterDesktopPluginRegistrarGetView(registrar);
  if (view != nullptr) {
    view_ = std::make_unique<FlutterView>(view);
  }
}

PluginRegistrarWindows::~PluginRegistrarWindows() {
  // The plugins may still use the view while they are destroyed.
  ClearPlugins();
  view_.reset();
}

}  // namespace flutter
