#pragma once

#include <memory>
#include <mutex>

#include "channel/encodable_value.h"
#include "channel/event_channel.h"
#include "channel/event_sink.h"
#include "channel/method_call.h"
#include "channel/method_channel.h"
#include "channel/method_result.h"
#include "channel/plugin_registrar.h"
#include "plugin/drives/drive_scanner.h"

namespace pel_mora {

// The system's native plugin: owns the method channel "com.pelmora.app/native", whose calls go to
// the dispatcher, the event channel "com.pelmora.app/scan", the current scan listener's sink and
// the one drive scanner. Created on the platform thread while the host window is created, and
// owned by the registrar it was registered with.
class PelmoraPlugin : public flutter::Plugin {
 public:
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);

  explicit PelmoraPlugin(flutter::PluginRegistrarWindows* registrar);
  ~PelmoraPlugin() override;

  PelmoraPlugin(const PelmoraPlugin&) = delete;
  PelmoraPlugin& operator=(const PelmoraPlugin&) = delete;

  // Platform thread.
  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                        std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

 private:
  // Scan thread: hands one event to the current listener, or drops it when nobody listens.
  void SendScanEvent(const flutter::EncodableValue& event);

  flutter::PluginRegistrarWindows* registrar_;
  std::unique_ptr<flutter::MethodChannel<flutter::EncodableValue>> method_channel_;
  std::unique_ptr<flutter::EventChannel<flutter::EncodableValue>> event_channel_;
  // The only lock of the plugin; taken around each single use of event_sink_, from the platform
  // thread (listen, cancel, destruction) and the scan thread (events).
  std::unique_ptr<flutter::EventSink<flutter::EncodableValue>> event_sink_;
  std::mutex sink_mutex_;
  std::unique_ptr<DriveScanner> scanner_;
};

}  // namespace pel_mora
