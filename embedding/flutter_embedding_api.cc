// The C calls of channel/flutter_embedding.h, each a thin forward to the library's objects.
// Null handles are answered with the call's "nothing" value rather than a crash.

#include <cstdio>
#include <memory>

#include "channel/flutter_embedding.h"
#include "embedding/engine.h"
#include "embedding/handles.h"
#include "embedding/messenger.h"
#include "embedding/monitor_dpi.h"
#include "embedding/view.h"

using pel_mora::embedding::Engine;
using pel_mora::embedding::FromHandle;
using pel_mora::embedding::Messenger;
using pel_mora::embedding::MonitorDpi;
using pel_mora::embedding::PluginRegistrar;
using pel_mora::embedding::TextureRegistrar;
using pel_mora::embedding::ToHandle;
using pel_mora::embedding::View;
using pel_mora::embedding::ViewController;

// ---- Engine ----

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties) {
  return ToHandle(Engine::Create(engine_properties).release());
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  std::unique_ptr<Engine> owned(FromHandle(engine));
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine != nullptr ? ToHandle(FromHandle(engine)->messenger()) : nullptr;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                        const char* plugin_name) {
  return engine != nullptr ? ToHandle(FromHandle(engine)->GetRegistrar(plugin_name)) : nullptr;
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, FlutterDesktopVoidCallback callback,
                                              void* user_data) {
  if (engine != nullptr) {
    FromHandle(engine)->SetNextFrameCallback(callback, user_data);
  }
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef /*engine*/) {
  // The stand-in draws no text, so it holds no fonts to reload.
}

// ---- View controller and view ----

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  return ToHandle(ViewController::Create(width, height, std::unique_ptr<Engine>(FromHandle(engine))).release());
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  std::unique_ptr<ViewController> owned(FromHandle(controller));
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return controller != nullptr ? ToHandle(FromHandle(controller)->view()) : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller != nullptr) {
    FromHandle(controller)->engine()->ScheduleFrame();
  }
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef /*controller*/,
                                                          HWND /*hwnd*/, UINT /*message*/, WPARAM /*wparam*/,
                                                          LPARAM /*lparam*/, LRESULT* /*result*/) {
  // The plain surface needs nothing from the host window's messages: the host handles them all.
  return false;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view != nullptr ? FromHandle(view)->window() : nullptr;
}

// ---- Process-wide ----

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  return MonitorDpi(monitor);
}

void FlutterDesktopResyncOutputStreams(void) {
  // Every line this library writes goes through the C runtime's stderr at the moment it is
  // written, so streams reopened on a console are followed already. Flushing hands over
  // anything still buffered.
  std::fflush(stdout);
  std::fflush(stderr);
}

// ---- Messenger ----

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 size_t message_size) {
  return messenger != nullptr && FromHandle(messenger)->Send(channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  return messenger != nullptr && FromHandle(messenger)->Send(channel, message, message_size, reply, user_data);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_size) {
  if (messenger != nullptr) {
    FromHandle(messenger)->SendResponse(handle, data, data_size);
  }
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (messenger != nullptr) {
    FromHandle(messenger)->SetCallback(channel, callback, user_data);
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) {
    FromHandle(messenger)->AddReference();
  }
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) {
    FromHandle(messenger)->Release();
  }
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger != nullptr && FromHandle(messenger)->IsAvailable();
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) {
    return nullptr;
  }
  FromHandle(messenger)->Lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) {
    FromHandle(messenger)->Unlock();
  }
}

// ---- Plugin registrar ----

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar != nullptr ? ToHandle(FromHandle(registrar)->engine()->messenger()) : nullptr;
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar != nullptr ? ToHandle(FromHandle(registrar)->engine()->view()) : nullptr;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  return registrar != nullptr ? ToHandle(FromHandle(registrar)->engine()->messenger()->textures()) : nullptr;
}

// ---- Textures ----

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(FlutterDesktopTextureRegistrarRef texture_registrar,
                                                              const FlutterDesktopTextureInfo* info) {
  return texture_registrar != nullptr ? FromHandle(texture_registrar)->Register(info) : -1;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(FlutterDesktopTextureRegistrarRef texture_registrar,
                                                             int64_t texture_id, FlutterDesktopVoidCallback callback,
                                                             void* user_data) {
  if (texture_registrar != nullptr) {
    FromHandle(texture_registrar)->Unregister(texture_id);
  }
  // Nothing draws a texture, so it is gone at once; an id that was never registered is gone too.
  // Either way the callback gets its one call, so whatever it frees is freed.
  if (callback != nullptr) {
    callback(user_data);
  }
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id) {
  return texture_registrar != nullptr && FromHandle(texture_registrar)->IsRegistered(texture_id);
}
