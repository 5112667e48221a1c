#include "plugin/pelmora_plugin.h"

#include "channel/event_stream_handler_functions.h"
#include "channel/standard_method_codec.h"
#include "plugin/method_dispatcher.h"

namespace pel_mora {

namespace {

constexpr char kMethodChannelName[] = "com.pelmora.app/native";
constexpr char kScanChannelName[] = "com.pelmora.app/scan";

}  // namespace

void PelmoraPlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar) {
  registrar->AddPlugin(std::make_unique<PelmoraPlugin>(registrar));
}

PelmoraPlugin::PelmoraPlugin(flutter::PluginRegistrarWindows* registrar) : registrar_(registrar) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();

  method_channel_ = std::make_unique<flutter::MethodChannel<flutter::EncodableValue>>(registrar_->messenger(),
                                                                                      kMethodChannelName, &codec);
  method_channel_->SetMethodCallHandler(
      [this](const auto& call, std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        HandleMethodCall(call, std::move(result));
      });

  event_channel_ = std::make_unique<flutter::EventChannel<flutter::EncodableValue>>(registrar_->messenger(),
                                                                                    kScanChannelName, &codec);
  auto stream_handler = std::make_unique<flutter::StreamHandlerFunctions<flutter::EncodableValue>>(
      [this](const flutter::EncodableValue* /*arguments*/,
             std::unique_ptr<flutter::EventSink<flutter::EncodableValue>>&& sink)
          -> std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> {
        // The channel cancels an old listener before it delivers a new listen, so the slot is
        // empty here.
        std::lock_guard lock(sink_mutex_);
        event_sink_ = std::move(sink);
        return nullptr;
      },
      [this](const flutter::EncodableValue* /*arguments*/)
          -> std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> {
        std::lock_guard lock(sink_mutex_);
        event_sink_.reset();
        return nullptr;
      });
  event_channel_->SetStreamHandler(std::move(stream_handler));

  scanner_ = std::make_unique<DriveScanner>([this](const flutter::EncodableValue& event) { SendScanEvent(event); });
}

PelmoraPlugin::~PelmoraPlugin() {
  // ORDER: stop the scan, then cut its events off under the lock, and only then destroy the
  // scanner, so that no event can reach a sink or a plugin that is going away.
  scanner_->Cancel();
  {
    std::lock_guard lock(sink_mutex_);
    event_sink_.reset();
  }
  scanner_.reset();
  event_channel_.reset();
  method_channel_.reset();
}

void PelmoraPlugin::HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                                     std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
  pel_mora::HandleMethodCall(call, std::move(result), scanner_.get());
}

void PelmoraPlugin::SendScanEvent(const flutter::EncodableValue& event) {
  // The lock is held while the sink sends, so the sink is never used by two threads at once nor
  // after listen-cancel or destruction has cleared it.
  std::lock_guard lock(sink_mutex_);
  if (event_sink_) {
    event_sink_->Success(event);
  }
}

}  // namespace pel_mora
