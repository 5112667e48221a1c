#pragma once

// A fake of the embedding library, implementing every call of channel/flutter_embedding.h in
// plain C++ so the channel glue can be tested natively (and under Wine) without an engine.
//
// It records what the glue asks of it and lets a test play the engine: deliver a message on a
// registered channel, end the engine, draw a frame. The messenger is modelled as the embedding
// describes it: reference counted (freed when the last reference goes, so a glue object that
// forgot its reference touches freed memory, which the sanitizers report), a real lock, and an
// availability flag that engine teardown clears under that lock.
//
// Every test starts with Reset(). Calls into the glue are made without the fake's own lock held.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channel/flutter_embedding.h"

namespace fake_embedding {

// ---- Switches (cleared by Reset) ----

void Reset();
void SetEngineCreationFails(bool fails);
void SetViewControllerCreationFails(bool fails);
// What FlutterDesktopMessengerSendWithReply returns (true by default).
void SetSendWithReplyResult(bool result);
// When set, FlutterDesktopMessengerSendWithReply answers with these bytes before it returns.
void SetAnswerDuringSend(std::optional<std::vector<uint8_t>> answer);
// The top-level window message the view controller consumes, and its answer.
void SetConsumedWindowMessage(UINT message, LRESULT result);
// What FlutterDesktopGetDpiForMonitor answers for every monitor (96 by default).
void SetMonitorDpi(UINT dpi);

// ---- Messenger ----

// A messenger of a running engine, holding the engine's one reference.
FlutterDesktopMessengerRef CreateMessenger();
// What engine teardown does to its messenger: clears availability under the lock, then gives up
// the engine's reference (which frees the messenger unless the glue holds one).
void EndEngine(FlutterDesktopMessengerRef messenger);
// Clears or sets availability under the lock, without touching references.
void SetAvailable(FlutterDesktopMessengerRef messenger, bool available);
int ReferenceCount(FlutterDesktopMessengerRef messenger);
// Messengers created and not yet freed.
int LiveMessengers();

struct Registration {
  FlutterDesktopMessengerRef messenger;
  std::string channel;
  FlutterDesktopMessageCallback callback;
  void* user_data;
};
// Every FlutterDesktopMessengerSetCallback call, in order.
std::vector<Registration> Registrations();

// Delivers `message` on `channel` as the engine would, on the calling thread; returns the id of
// the response handle made for it, or -1 (and calls nothing) when the channel has no callback.
int Deliver(FlutterDesktopMessengerRef messenger, const std::string& channel, const std::vector<uint8_t>& message);

struct Response {
  int response_id;
  std::vector<uint8_t> bytes;
  bool lock_held;  // the sending thread held the messenger lock
};
std::vector<Response> Responses();
std::vector<Response> ResponsesTo(int response_id);

struct SentMessage {
  std::string channel;
  std::vector<uint8_t> bytes;
  bool lock_held;
};
// Every FlutterDesktopMessengerSend call that reached an available messenger.
std::vector<SentMessage> Sends();
// Sends and responses that arrived while the messenger was unavailable (the engine gone).
int CallsWhileUnavailable();

struct PendingReply {
  std::string channel;
  std::vector<uint8_t> bytes;
  FlutterDesktopBinaryReply reply;
  void* user_data;
};
// Messages sent with a reply that is still owed (when SendWithReply returned true).
std::vector<PendingReply> TakePendingReplies();

// Broken promises of the glue: a response handle used twice, a lock released by a thread that
// does not hold it, an engine destroyed twice...
std::vector<std::string> Violations();

// ---- Engine, view controller, registrar ----

struct EngineCreation {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  bool entrypoint_is_null;
  std::string dart_entrypoint;
  int argument_count;
  bool argument_array_is_null;
  std::vector<std::string> arguments;
  int gpu_preference;
  int platform_thread_priority;
};
std::vector<EngineCreation> EngineCreations();

// The engine created last (whether or not it still runs).
FlutterDesktopEngineRef LastEngine();
int EngineDestroyCalls();
int ViewControllerCreateCalls();
int ViewControllerDestroyCalls();
// Engines created and not yet ended, by either destroy call.
int LiveEngines();
int ForceRedrawCalls();
int ReloadSystemFontsCalls();
int ResyncOutputStreamsCalls();
std::vector<std::string> UrlLauncherRegistrations();

// Calls the engine's pending next-frame callback, if any, once (as the embedding does after a frame).
void DrawFrame(FlutterDesktopEngineRef engine);

// The window of the view created last (on Windows a real window, elsewhere one fake handle).
HWND ViewWindow();

// ---- Textures ----

struct TextureRegistration {
  int64_t texture_id;
  FlutterDesktopTextureInfo info;
};
std::vector<TextureRegistration> TextureRegistrations();
std::vector<int64_t> FramesMarkedAvailable();
struct TextureUnregistration {
  int64_t texture_id;
  bool had_callback;
};
std::vector<TextureUnregistration> TextureUnregistrations();

}  // namespace fake_embedding
