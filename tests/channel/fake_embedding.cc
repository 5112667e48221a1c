#include "tests/channel/fake_embedding.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

// ---- The embedding's opaque objects, as the fake models them ----

struct FlutterDesktopMessenger {
  std::mutex lock;
  // The thread holding `lock`, so recorded calls can tell whether they were made under it.
  std::atomic<std::thread::id> lock_owner{};
  std::atomic<bool> available{true};
  std::atomic<int> references{1};
};

struct FlutterDesktopMessageResponseHandle {
  int id;
  bool used;
};

struct FlutterDesktopView {
  HWND window;
};

struct FlutterDesktopTextureRegistrar {
  int unused;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine;
  std::string plugin_name;
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine;
  FlutterDesktopView view;
};

struct FlutterDesktopEngine {
  FlutterDesktopMessengerRef messenger;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
  FlutterDesktopTextureRegistrar texture_registrar{};
  FlutterDesktopViewController* controller = nullptr;
  FlutterDesktopVoidCallback next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
};

namespace fake_embedding {

namespace {

struct World {
  std::mutex mutex;
  bool engine_creation_fails = false;
  bool view_controller_creation_fails = false;
  bool send_with_reply_result = true;
  std::optional<std::vector<uint8_t>> answer_during_send;
  std::optional<std::pair<UINT, LRESULT>> consumed_window_message;
  UINT monitor_dpi = 96;
  HWND last_view_window = nullptr;

  std::vector<Registration> registrations;
  std::map<std::pair<FlutterDesktopMessengerRef, std::string>, std::pair<FlutterDesktopMessageCallback, void*>>
      callbacks;
  std::vector<std::unique_ptr<FlutterDesktopMessageResponseHandle>> response_handles;
  std::vector<Response> responses;
  std::vector<SentMessage> sends;
  std::vector<PendingReply> pending_replies;
  int calls_while_unavailable = 0;
  std::vector<std::string> violations;
  int live_messengers = 0;

  std::vector<EngineCreation> engine_creations;
  FlutterDesktopEngineRef last_engine = nullptr;
  int engine_destroy_calls = 0;
  int view_controller_create_calls = 0;
  int view_controller_destroy_calls = 0;
  int live_engines = 0;
  int force_redraw_calls = 0;
  int reload_system_fonts_calls = 0;
  int resync_output_streams_calls = 0;
  std::vector<std::string> url_launcher_registrations;

  std::vector<TextureRegistration> texture_registrations;
  std::vector<int64_t> frames_marked_available;
  std::vector<TextureUnregistration> texture_unregistrations;
  int64_t next_texture_id = 1;
};

World& TheWorld() {
  static World world;
  return world;
}

bool LockHeldByCaller(FlutterDesktopMessengerRef messenger) {
  return messenger->lock_owner.load() == std::this_thread::get_id();
}

void RecordViolation(const std::string& what) {
  World& world = TheWorld();
  std::lock_guard guard(world.mutex);
  world.violations.push_back(what);
}

void ReleaseMessenger(FlutterDesktopMessengerRef messenger) {
  int before = messenger->references.fetch_sub(1);
  if (before > 1) {
    return;
  }
  World& world = TheWorld();
  {
    std::lock_guard guard(world.mutex);
    --world.live_messengers;
    // Its registrations go with it.
    for (auto entry = world.callbacks.begin(); entry != world.callbacks.end();) {
      entry = entry->first.first == messenger ? world.callbacks.erase(entry) : std::next(entry);
    }
  }
  delete messenger;
}

// Engine teardown, by either destroy call.
void EndEngineObject(FlutterDesktopEngine* engine) {
  EndEngine(engine->messenger);
  {
    World& world = TheWorld();
    std::lock_guard guard(world.mutex);
    --world.live_engines;
  }
  delete engine;
}

}  // namespace

void Reset() {
  World& world = TheWorld();
  std::lock_guard guard(world.mutex);
  world.engine_creation_fails = false;
  world.view_controller_creation_fails = false;
  world.send_with_reply_result = true;
  world.answer_during_send.reset();
  world.consumed_window_message.reset();
  world.monitor_dpi = 96;
  world.registrations.clear();
  world.callbacks.clear();
  world.response_handles.clear();
  world.responses.clear();
  world.sends.clear();
  world.pending_replies.clear();
  world.calls_while_unavailable = 0;
  world.violations.clear();
  world.live_messengers = 0;
  world.engine_creations.clear();
  world.last_engine = nullptr;
  world.engine_destroy_calls = 0;
  world.view_controller_create_calls = 0;
  world.view_controller_destroy_calls = 0;
  world.live_engines = 0;
  world.force_redraw_calls = 0;
  world.reload_system_fonts_calls = 0;
  world.resync_output_streams_calls = 0;
  world.url_launcher_registrations.clear();
  world.texture_registrations.clear();
  world.frames_marked_available.clear();
  world.texture_unregistrations.clear();
  world.next_texture_id = 1;
}

void SetEngineCreationFails(bool fails) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().engine_creation_fails = fails;
}

void SetViewControllerCreationFails(bool fails) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().view_controller_creation_fails = fails;
}

void SetSendWithReplyResult(bool result) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().send_with_reply_result = result;
}

void SetAnswerDuringSend(std::optional<std::vector<uint8_t>> answer) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().answer_during_send = std::move(answer);
}

void SetConsumedWindowMessage(UINT message, LRESULT result) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().consumed_window_message = std::make_pair(message, result);
}

void SetMonitorDpi(UINT dpi) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().monitor_dpi = dpi;
}

FlutterDesktopMessengerRef CreateMessenger() {
  std::lock_guard guard(TheWorld().mutex);
  ++TheWorld().live_messengers;
  return new FlutterDesktopMessenger();
}

void EndEngine(FlutterDesktopMessengerRef messenger) {
  SetAvailable(messenger, false);
  ReleaseMessenger(messenger);
}

void SetAvailable(FlutterDesktopMessengerRef messenger, bool available) {
  std::lock_guard lock(messenger->lock);
  messenger->available = available;
}

int ReferenceCount(FlutterDesktopMessengerRef messenger) {
  return messenger->references.load();
}

int LiveMessengers() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().live_messengers;
}

std::vector<Registration> Registrations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().registrations;
}

int Deliver(FlutterDesktopMessengerRef messenger, const std::string& channel, const std::vector<uint8_t>& message) {
  World& world = TheWorld();
  FlutterDesktopMessageCallback callback = nullptr;
  void* user_data = nullptr;
  FlutterDesktopMessageResponseHandle* response_handle = nullptr;
  {
    std::lock_guard guard(world.mutex);
    auto entry = world.callbacks.find({messenger, channel});
    if (entry == world.callbacks.end()) {
      return -1;
    }
    std::tie(callback, user_data) = entry->second;
    auto handle = std::make_unique<FlutterDesktopMessageResponseHandle>();
    handle->id = static_cast<int>(world.response_handles.size());
    handle->used = false;
    response_handle = handle.get();
    world.response_handles.push_back(std::move(handle));
  }
  FlutterDesktopMessage record = {};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.empty() ? nullptr : message.data();
  record.message_size = message.size();
  record.response_handle = response_handle;
  callback(messenger, &record, user_data);
  return response_handle->id;
}

std::vector<Response> Responses() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().responses;
}

std::vector<Response> ResponsesTo(int response_id) {
  std::vector<Response> matching;
  for (Response& response : Responses()) {
    if (response.response_id == response_id) {
      matching.push_back(std::move(response));
    }
  }
  return matching;
}

std::vector<SentMessage> Sends() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().sends;
}

int CallsWhileUnavailable() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().calls_while_unavailable;
}

std::vector<PendingReply> TakePendingReplies() {
  std::lock_guard guard(TheWorld().mutex);
  return std::exchange(TheWorld().pending_replies, {});
}

std::vector<std::string> Violations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().violations;
}

std::vector<EngineCreation> EngineCreations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().engine_creations;
}

FlutterDesktopEngineRef LastEngine() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().last_engine;
}

int EngineDestroyCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().engine_destroy_calls;
}

int ViewControllerCreateCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().view_controller_create_calls;
}

int ViewControllerDestroyCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().view_controller_destroy_calls;
}

int LiveEngines() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().live_engines;
}

int ForceRedrawCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().force_redraw_calls;
}

int ReloadSystemFontsCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().reload_system_fonts_calls;
}

int ResyncOutputStreamsCalls() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().resync_output_streams_calls;
}

std::vector<std::string> UrlLauncherRegistrations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().url_launcher_registrations;
}

void DrawFrame(FlutterDesktopEngineRef engine) {
  FlutterDesktopVoidCallback callback = std::exchange(engine->next_frame_callback, nullptr);
  void* user_data = std::exchange(engine->next_frame_user_data, nullptr);
  if (callback != nullptr) {
    callback(user_data);
  }
}

HWND ViewWindow() {
#ifdef _WIN32
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().last_view_window;
#else
  static int window_object;
  return reinterpret_cast<HWND>(&window_object);
#endif
}

std::vector<TextureRegistration> TextureRegistrations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().texture_registrations;
}

std::vector<int64_t> FramesMarkedAvailable() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().frames_marked_available;
}

std::vector<TextureUnregistration> TextureUnregistrations() {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().texture_unregistrations;
}

}  // namespace fake_embedding

// ---- The embedding's C calls ----

using fake_embedding::TheWorld;

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  fake_embedding::World& world = TheWorld();
  fake_embedding::EngineCreation creation;
  creation.assets_path = properties->assets_path != nullptr ? properties->assets_path : L"";
  creation.icu_data_path = properties->icu_data_path != nullptr ? properties->icu_data_path : L"";
  creation.aot_library_path = properties->aot_library_path != nullptr ? properties->aot_library_path : L"";
  creation.entrypoint_is_null = properties->dart_entrypoint == nullptr;
  creation.dart_entrypoint = properties->dart_entrypoint != nullptr ? properties->dart_entrypoint : "";
  creation.argument_count = properties->dart_entrypoint_argc;
  creation.argument_array_is_null = properties->dart_entrypoint_argv == nullptr;
  for (int index = 0; properties->dart_entrypoint_argv != nullptr && index < properties->dart_entrypoint_argc;
       ++index) {
    creation.arguments.emplace_back(properties->dart_entrypoint_argv[index]);
  }
  creation.gpu_preference = properties->gpu_preference;
  creation.platform_thread_priority = properties->platform_thread_priority;
  {
    std::lock_guard guard(world.mutex);
    world.engine_creations.push_back(creation);
    if (world.engine_creation_fails) {
      return nullptr;
    }
  }
  auto* engine = new FlutterDesktopEngine();
  engine->messenger = fake_embedding::CreateMessenger();
  std::lock_guard guard(world.mutex);
  ++world.live_engines;
  world.last_engine = engine;
  return engine;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  {
    std::lock_guard guard(TheWorld().mutex);
    ++TheWorld().engine_destroy_calls;
  }
  if (engine->controller != nullptr) {
    fake_embedding::RecordViolation("FlutterDesktopEngineDestroy on an engine a view controller owns");
    return false;
  }
  fake_embedding::EndEngineObject(engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine->messenger;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                        const char* plugin_name) {
  auto& registrar = engine->registrars[plugin_name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = engine;
    registrar->plugin_name = plugin_name;
  }
  return registrar.get();
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, FlutterDesktopVoidCallback callback,
                                              void* user_data) {
  engine->next_frame_callback = callback;
  engine->next_frame_user_data = user_data;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef) {
  std::lock_guard guard(TheWorld().mutex);
  ++TheWorld().reload_system_fonts_calls;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int, int, FlutterDesktopEngineRef engine) {
  bool fails = false;
  {
    std::lock_guard guard(TheWorld().mutex);
    ++TheWorld().view_controller_create_calls;
    fails = TheWorld().view_controller_creation_fails;
  }
  if (engine == nullptr) {
    return nullptr;
  }
  if (fails) {
    // The controller takes the engine over even when it fails, and ends it.
    fake_embedding::EndEngineObject(engine);
    return nullptr;
  }
  auto* controller = new FlutterDesktopViewController();
  controller->engine = engine;
#ifdef _WIN32
  // A host window adopts the view as its child and moves, shows and focuses it, so on Windows the
  // view is a real window; the host's teardown destroys it with its parent.
  controller->view.window = CreateWindowExW(0, L"STATIC", L"fake view", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                            GetModuleHandleW(nullptr), nullptr);
  {
    std::lock_guard guard(TheWorld().mutex);
    TheWorld().last_view_window = controller->view.window;
  }
#else
  controller->view.window = fake_embedding::ViewWindow();
#endif
  engine->controller = controller;
  return controller;
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  {
    std::lock_guard guard(TheWorld().mutex);
    ++TheWorld().view_controller_destroy_calls;
  }
  controller->engine->controller = nullptr;
  fake_embedding::EndEngineObject(controller->engine);
#ifdef _WIN32
  if (IsWindow(controller->view.window)) {
    DestroyWindow(controller->view.window);
  }
#endif
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return &controller->view;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef) {
  std::lock_guard guard(TheWorld().mutex);
  ++TheWorld().force_redraw_calls;
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef, HWND, UINT message, WPARAM,
                                                          LPARAM, LRESULT* result) {
  std::lock_guard guard(TheWorld().mutex);
  const auto& consumed = TheWorld().consumed_window_message;
  if (!consumed || consumed->first != message) {
    return false;
  }
  *result = consumed->second;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view->window;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR) {
  std::lock_guard guard(TheWorld().mutex);
  return TheWorld().monitor_dpi;
}

void FlutterDesktopResyncOutputStreams(void) {
  std::lock_guard guard(TheWorld().mutex);
  ++TheWorld().resync_output_streams_calls;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 size_t message_size) {
  fake_embedding::SentMessage sent{channel, {}, fake_embedding::LockHeldByCaller(messenger)};
  if (message_size > 0) {
    sent.bytes.assign(message, message + message_size);
  }
  std::lock_guard guard(TheWorld().mutex);
  if (!messenger->available) {
    ++TheWorld().calls_while_unavailable;
    return false;
  }
  TheWorld().sends.push_back(std::move(sent));
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  std::optional<std::vector<uint8_t>> answer;
  {
    std::lock_guard guard(TheWorld().mutex);
    if (!TheWorld().send_with_reply_result) {
      return false;
    }
    fake_embedding::PendingReply pending{channel, {}, reply, user_data};
    if (message_size > 0) {
      pending.bytes.assign(message, message + message_size);
    }
    answer = TheWorld().answer_during_send;
    if (!answer) {
      TheWorld().pending_replies.push_back(std::move(pending));
    }
  }
  (void)messenger;
  if (answer) {
    reply(answer->empty() ? nullptr : answer->data(), answer->size(), user_data);
  }
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_size) {
  fake_embedding::Response response{handle->id, {}, fake_embedding::LockHeldByCaller(messenger)};
  if (data_size > 0) {
    response.bytes.assign(data, data + data_size);
  }
  std::lock_guard guard(TheWorld().mutex);
  if (!messenger->available) {
    ++TheWorld().calls_while_unavailable;
    return;
  }
  auto* mutable_handle = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
  if (mutable_handle->used) {
    TheWorld().violations.push_back("response handle " + std::to_string(handle->id) + " used twice");
    return;
  }
  mutable_handle->used = true;
  TheWorld().responses.push_back(std::move(response));
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().registrations.push_back({messenger, channel, callback, user_data});
  if (callback == nullptr) {
    TheWorld().callbacks.erase({messenger, channel});
  } else {
    TheWorld().callbacks[{messenger, channel}] = {callback, user_data};
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  messenger->references.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  fake_embedding::ReleaseMessenger(messenger);
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger->available;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  messenger->lock.lock();
  messenger->lock_owner = std::this_thread::get_id();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (!fake_embedding::LockHeldByCaller(messenger)) {
    fake_embedding::RecordViolation("messenger unlocked by a thread that does not hold the lock");
    return;
  }
  messenger->lock_owner = std::thread::id();
  messenger->lock.unlock();
}

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar->engine->messenger;
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar) {
  FlutterDesktopViewController* controller = registrar->engine->controller;
  return controller != nullptr ? &controller->view : nullptr;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  return &registrar->engine->texture_registrar;
}

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(FlutterDesktopTextureRegistrarRef,
                                                              const FlutterDesktopTextureInfo* info) {
  std::lock_guard guard(TheWorld().mutex);
  int64_t texture_id = TheWorld().next_texture_id++;
  TheWorld().texture_registrations.push_back({texture_id, *info});
  return texture_id;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(FlutterDesktopTextureRegistrarRef, int64_t texture_id,
                                                             FlutterDesktopVoidCallback callback, void* user_data) {
  {
    std::lock_guard guard(TheWorld().mutex);
    TheWorld().texture_unregistrations.push_back({texture_id, callback != nullptr});
  }
  if (callback != nullptr) {
    callback(user_data);
  }
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(FlutterDesktopTextureRegistrarRef,
                                                                     int64_t texture_id) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().frames_marked_available.push_back(texture_id);
  return true;
}

void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  std::lock_guard guard(TheWorld().mutex);
  TheWorld().url_launcher_registrations.push_back(registrar->plugin_name);
}
