#include "embedding/engine.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "embedding/diagnostics.h"
#include "embedding/handles.h"
#include "embedding/host_environment.h"
#include "embedding/messenger.h"
#include "embedding/view.h"

namespace pel_mora::embedding {

namespace {

// How long a new interface connection may take to send its secret.
constexpr std::chrono::milliseconds kAuthenticationTimeout{5000};

EngineLaunch DescribeLaunch(const FlutterDesktopEngineProperties& properties) {
  EngineLaunch launch;
  launch.dart_entrypoint = properties.dart_entrypoint != nullptr ? properties.dart_entrypoint : "";
  if (properties.dart_entrypoint_argv != nullptr) {
    for (int index = 0; index < properties.dart_entrypoint_argc; ++index) {
      const char* argument = properties.dart_entrypoint_argv[index];
      launch.dart_entrypoint_arguments.emplace_back(argument != nullptr ? argument : "");
    }
  }
  launch.assets_path = WideToUtf8(properties.assets_path);
  launch.icu_data_path = WideToUtf8(properties.icu_data_path);
  launch.aot_library_path = WideToUtf8(properties.aot_library_path);
  return launch;
}

}  // namespace

std::unique_ptr<Engine> Engine::Create(const FlutterDesktopEngineProperties* properties) {
  if (properties == nullptr || properties->assets_path == nullptr) {
    WriteDiagnosticLine("Stand-in embedding: cannot create the engine: no assets path");
    return nullptr;
  }
  // The real engine cannot start without its assets, and neither does this one, so a host
  // installed without its "data" folder fails the same way with either.
  const std::wstring assets_folder = ResolveAgainstExecutableFolder(properties->assets_path);
  if (!DirectoryExists(assets_folder)) {
    WriteDiagnosticLine("Stand-in embedding: cannot create the engine: the assets folder \"" +
                        WideToUtf8(assets_folder.c_str()) + "\" does not exist");
    return nullptr;
  }
  std::string error;
  std::unique_ptr<PlatformTaskRunner> task_runner = PlatformTaskRunner::Create(&error);
  if (!task_runner) {
    WriteDiagnosticLine("Stand-in embedding: cannot create the engine: " + error);
    return nullptr;
  }
  return std::unique_ptr<Engine>(new Engine(DescribeLaunch(*properties), std::move(task_runner)));
}

Engine::Engine(EngineLaunch launch, std::unique_ptr<PlatformTaskRunner> task_runner)
    : launch_(std::move(launch)), messenger_(new Messenger(this)), task_runner_(std::move(task_runner)) {}

Engine::~Engine() {
  // Order matters. Detach first: afterwards no thread can reach this engine through the
  // messenger. Then join the bridge's thread, which stops the posts to the task runner; then
  // drop the task runner with whatever it still holds.
  messenger_->DetachEngine();
  bridge_.reset();
  task_runner_.reset();

  std::map<uint32_t, PendingReply> waiting;
  {
    std::lock_guard<std::mutex> lock(replies_mutex_);
    waiting.swap(replies_);
  }
  // Each accepted send with a reply is answered exactly once; with the engine gone the answer
  // is empty. Its owner can then free what the reply holds.
  for (const auto& [id, pending] : waiting) {
    pending.reply(nullptr, 0, pending.user_data);
  }
}

bool Engine::Run(View* view) {
  view_ = view;
  const std::vector<uint8_t> hello_payload = EncodeHelloPayload(launch_);
  std::optional<std::vector<uint8_t>> hello =
      BuildFrame(FrameKind::kHello, 0, {}, hello_payload.data(), hello_payload.size());
  if (!hello) {
    WriteDiagnosticLine("Stand-in embedding: the engine's description does not fit in a hello frame");
    return false;
  }
  BridgeSettings settings;
  settings.port = InterfacePortFromEnvironment();
  settings.authentication_timeout = kAuthenticationTimeout;
  const EnvironmentSecret given = TakeSecretFromEnvironment(&settings.secret);
  if (given == EnvironmentSecret::kInvalid) {
    WriteDiagnosticLine(std::string("Interface bridge: ") + kInterfaceSecretVariable +
                        " is not 64 hexadecimal digits; the host makes a secret of its own");
  }
  if (given != EnvironmentSecret::kTaken) {
    std::string error;
    const std::optional<InterfaceSecret> made = MakeSecret(&error);
    if (!made) {
      // Without a secret nobody could ever be let in; better not to run at all.
      WriteDiagnosticLine("Interface bridge: cannot make a secret: " + error);
      return false;
    }
    settings.secret = *made;
  }
  std::unique_ptr<InterfaceBridge> bridge = InterfaceBridge::Listen(this, settings, std::move(*hello));
  if (!bridge) {
    return false;
  }
  if (given != EnvironmentSecret::kTaken) {
    // Written before the listening line, so whoever waits for that line finds the file.
    std::string error;
    published_secret_ = PublishedSecret::Publish(bridge->port(), settings.secret, &error);
    WriteDiagnosticLine(published_secret_ ? "Interface bridge: its secret is in " +
                                                WideToUtf8(published_secret_->path().c_str()) +
                                                ", readable only by this user"
                                          : "Interface bridge: cannot publish its secret (" + error +
                                                "); no interface can connect");
  }
  if (!bridge->Serve()) {
    return false;
  }
  // Other threads read bridge_ under the messenger lock, so it is set under that lock too.
  messenger_->Lock();
  bridge_ = std::move(bridge);
  messenger_->Unlock();
  ScheduleFrame();
  return true;
}

PluginRegistrar* Engine::GetRegistrar(const char* plugin_name) {
  std::unique_ptr<PluginRegistrar>& registrar = registrars_[plugin_name != nullptr ? plugin_name : ""];
  if (!registrar) {
    registrar = std::make_unique<PluginRegistrar>(this);
  }
  return registrar.get();
}

void Engine::SetNextFrameCallback(FlutterDesktopVoidCallback callback, void* user_data) {
  next_frame_callback_ = callback;
  next_frame_user_data_ = user_data;
}

void Engine::ScheduleFrame() {
  if (frame_scheduled_ || view_ == nullptr) {
    return;
  }
  frame_scheduled_ = true;
  task_runner_->Post([this] { DrawFrame(); });
}

void Engine::DrawFrame() {
  frame_scheduled_ = false;
  view_->Redraw();
  const FlutterDesktopVoidCallback callback = std::exchange(next_frame_callback_, nullptr);
  void* const user_data = std::exchange(next_frame_user_data_, nullptr);
  if (callback != nullptr) {
    callback(user_data);
  }
}

bool Engine::SendHostMessage(const char* channel, const uint8_t* message, size_t message_size,
                             FlutterDesktopBinaryReply reply, void* user_data) {
  if (!bridge_) {
    return false;
  }
  uint32_t id = 0;
  if (reply != nullptr) {
    std::lock_guard<std::mutex> lock(replies_mutex_);
    id = AllocateReplyId();
  }
  std::optional<std::vector<uint8_t>> frame = BuildFrame(FrameKind::kHostMessage, id, channel, message, message_size);
  if (!frame) {
    WriteDiagnosticLine(std::string("Stand-in embedding: a message on channel \"") + channel +
                        "\" is too large for the interface bridge; it was dropped");
    return false;
  }
  if (reply == nullptr) {
    return bridge_->QueueFrame(std::move(*frame)).has_value();
  }
  // Queued and recorded under one lock: the end of its connection, handled on the platform
  // thread under this lock too, then either finds the reply recorded or the frame refused.
  std::lock_guard<std::mutex> lock(replies_mutex_);
  const std::optional<uint64_t> connection = bridge_->QueueFrame(std::move(*frame));
  if (!connection) {
    return false;
  }
  replies_.emplace(id, PendingReply{*connection, reply, user_data});
  return true;
}

uint32_t Engine::AllocateReplyId() {
  do {
    ++last_reply_id_;
  } while (last_reply_id_ == 0 || replies_.count(last_reply_id_) > 0);
  return last_reply_id_;
}

void Engine::SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                          size_t data_size) {
  std::unique_ptr<ResponseHandle> response;
  {
    std::lock_guard<std::mutex> lock(responses_mutex_);
    const auto found = responses_.find(FromHandle(handle));
    if (found == responses_.end()) {
      // Used already, or never given out: nothing to answer.
      return;
    }
    response = std::move(found->second);
    responses_.erase(found);
  }
  std::optional<std::vector<uint8_t>> frame =
      BuildFrame(FrameKind::kPlatformResponse, response->message_id, {}, data, data_size);
  if (!frame) {
    WriteDiagnosticLine("Stand-in embedding: the response to message " + std::to_string(response->message_id) +
                        " is too large for the interface bridge; it was dropped");
    return;
  }
  if (bridge_) {
    bridge_->QueueFrameFor(response->connection, std::move(*frame));
  }
}

void Engine::SetMessageCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  if (callback == nullptr) {
    callbacks_.erase(channel);
  } else {
    callbacks_[channel] = MessageCallback{callback, user_data};
  }
}

void Engine::OnPlatformMessage(uint64_t connection, Frame frame) {
  task_runner_->Post([this, connection, frame = std::move(frame)] { DeliverPlatformMessage(connection, frame); });
}

void Engine::OnHostMessageResponse(uint64_t connection, Frame frame) {
  task_runner_->Post([this, connection, frame = std::move(frame)] { CompleteHostMessage(connection, frame); });
}

void Engine::OnCloseRequest() {
  task_runner_->Post([this] { CloseTopLevelWindow(); });
}

void Engine::OnConnectionEnded(uint64_t connection) {
  task_runner_->Post([this, connection] { EndRepliesOf(connection); });
}

void Engine::DeliverPlatformMessage(uint64_t connection, const Frame& frame) {
  MessageCallback callback;
  {
    std::lock_guard<std::mutex> lock(callbacks_mutex_);
    const auto found = callbacks_.find(frame.channel);
    if (found != callbacks_.end()) {
      callback = found->second;
    }
  }
  if (callback.function == nullptr) {
    // Nobody listens on the channel: the interface still gets its one answer, an empty one.
    std::optional<std::vector<uint8_t>> empty = BuildFrame(FrameKind::kPlatformResponse, frame.id, {}, nullptr, 0);
    bridge_->QueueFrameFor(connection, std::move(*empty));
    return;
  }
  auto response = std::make_unique<ResponseHandle>(ResponseHandle{connection, frame.id});
  const ResponseHandle* response_key = response.get();
  {
    std::lock_guard<std::mutex> lock(responses_mutex_);
    responses_.emplace(response_key, std::move(response));
  }
  FlutterDesktopMessage message{};
  message.struct_size = sizeof(message);
  message.channel = frame.channel.c_str();
  message.message = frame.payload.data();
  message.message_size = frame.payload.size();
  message.response_handle = ToHandle(response_key);
  // The frame belongs to the running task, not to this engine, so it stays valid even if the
  // callback destroys the engine.
  callback.function(ToHandle(messenger_), &message, callback.user_data);
}

void Engine::CompleteHostMessage(uint64_t connection, const Frame& frame) {
  PendingReply pending{};
  {
    std::lock_guard<std::mutex> lock(replies_mutex_);
    const auto found = replies_.find(frame.id);
    if (found == replies_.end() || found->second.connection != connection) {
      pending.reply = nullptr;
    } else {
      pending = found->second;
      replies_.erase(found);
    }
  }
  if (pending.reply == nullptr) {
    WriteDiagnosticLine("Interface bridge: ignoring a response to host message " + std::to_string(frame.id) +
                        ", which is not waiting for one");
    return;
  }
  pending.reply(frame.payload.data(), frame.payload.size(), pending.user_data);
}

void Engine::EndRepliesOf(uint64_t connection) {
  std::vector<PendingReply> ended;
  {
    std::lock_guard<std::mutex> lock(replies_mutex_);
    for (auto entry = replies_.begin(); entry != replies_.end();) {
      if (entry->second.connection == connection) {
        ended.push_back(entry->second);
        entry = replies_.erase(entry);
      } else {
        ++entry;
      }
    }
  }
  // The interface that was to answer has gone: each reply gets its one call now, empty, rather
  // than wait for good. Any of them may destroy this engine; the rest must still be called, and
  // `ended` is this task's own.
  for (const PendingReply& pending : ended) {
    pending.reply(nullptr, 0, pending.user_data);
  }
}

void Engine::CloseTopLevelWindow() {
  if (view_ == nullptr || !view_->PostCloseToTopLevelWindow()) {
    WriteDiagnosticLine("Interface bridge: ignoring a close request: the view is not inside a top-level window");
  }
}

}  // namespace pel_mora::embedding
