#pragma once

// The opaque handles of the C interface are the addresses of this library's objects. These are
// the only places where one is turned into the other.

#include "channel/flutter_embedding.h"

namespace pel_mora::embedding {

class Engine;
class Messenger;
class PluginRegistrar;
class TextureRegistrar;
class View;
class ViewController;
struct ResponseHandle;

inline FlutterDesktopEngineRef ToHandle(Engine* engine) {
  return reinterpret_cast<FlutterDesktopEngineRef>(engine);
}
inline Engine* FromHandle(FlutterDesktopEngineRef engine) {
  return reinterpret_cast<Engine*>(engine);
}

inline FlutterDesktopMessengerRef ToHandle(Messenger* messenger) {
  return reinterpret_cast<FlutterDesktopMessengerRef>(messenger);
}
inline Messenger* FromHandle(FlutterDesktopMessengerRef messenger) {
  return reinterpret_cast<Messenger*>(messenger);
}

inline FlutterDesktopPluginRegistrarRef ToHandle(PluginRegistrar* registrar) {
  return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(registrar);
}
inline PluginRegistrar* FromHandle(FlutterDesktopPluginRegistrarRef registrar) {
  return reinterpret_cast<PluginRegistrar*>(registrar);
}

inline FlutterDesktopTextureRegistrarRef ToHandle(TextureRegistrar* registrar) {
  return reinterpret_cast<FlutterDesktopTextureRegistrarRef>(registrar);
}
inline TextureRegistrar* FromHandle(FlutterDesktopTextureRegistrarRef registrar) {
  return reinterpret_cast<TextureRegistrar*>(registrar);
}

inline FlutterDesktopViewRef ToHandle(View* view) {
  return reinterpret_cast<FlutterDesktopViewRef>(view);
}
inline View* FromHandle(FlutterDesktopViewRef view) {
  return reinterpret_cast<View*>(view);
}

inline FlutterDesktopViewControllerRef ToHandle(ViewController* controller) {
  return reinterpret_cast<FlutterDesktopViewControllerRef>(controller);
}
inline ViewController* FromHandle(FlutterDesktopViewControllerRef controller) {
  return reinterpret_cast<ViewController*>(controller);
}

// A response handle is only ever compared as an address until the engine has found it among
// the handles it gave out, so a stale or foreign one is never read.
inline const FlutterDesktopMessageResponseHandle* ToHandle(const ResponseHandle* response) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(response);
}
inline const ResponseHandle* FromHandle(const FlutterDesktopMessageResponseHandle* response) {
  return reinterpret_cast<const ResponseHandle*>(response);
}

}  // namespace pel_mora::embedding
