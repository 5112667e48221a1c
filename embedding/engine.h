#pragma once

// The engine behind FlutterDesktopEngineRef. It runs no Dart code: it carries platform messages
// between the plugins and an interface process over the interface bridge, on the same terms as
// the real engine (callbacks on the platform thread, one response per message, replies that
// arrive once).
//
// Threads: created, run and destroyed on the platform thread, which also runs every callback.
// The messenger operations (SendHostMessage, SendResponse, SetMessageCallback) come from any
// thread, always through the Messenger, whose lock they hold.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "channel/flutter_embedding.h"
#include "embedding/engine_launch.h"
#include "embedding/host_secret.h"
#include "embedding/interface_bridge.h"
#include "embedding/platform_task_runner.h"

namespace pel_mora::embedding {

class Messenger;
class View;
class Engine;

// What FlutterDesktopMessageResponseHandle points to: which message, on which connection.
struct ResponseHandle {
  uint64_t connection;
  uint32_t message_id;
};

class PluginRegistrar {
 public:
  explicit PluginRegistrar(Engine* engine) : engine_(engine) {}
  Engine* engine() const { return engine_; }

 private:
  Engine* engine_;
};

class Engine final : private InterfaceBridge::Listener {
 public:
  // On the platform thread. Null, after one diagnostic line, when the assets folder does not
  // exist (a relative path is looked up beside the executable) or the platform task window
  // cannot be made.
  static std::unique_ptr<Engine> Create(const FlutterDesktopEngineProperties* properties);

  // On the platform thread. Afterwards the messenger is unavailable, the bridge is closed, and
  // every reply still waiting has been called once with an empty response.
  ~Engine() override;

  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Starts the engine with its view: opens the interface bridge and schedules the first frame.
  // False, after a diagnostic line, when the bridge cannot listen.
  bool Run(View* view);

  Messenger* messenger() const { return messenger_; }
  View* view() const { return view_; }
  PluginRegistrar* GetRegistrar(const char* plugin_name);

  void SetNextFrameCallback(FlutterDesktopVoidCallback callback, void* user_data);
  // Queues a frame unless one is already queued; the frame calls the next-frame callback.
  void ScheduleFrame();

  // Called by the Messenger with its lock held.
  bool SendHostMessage(const char* channel, const uint8_t* message, size_t message_size,
                       FlutterDesktopBinaryReply reply, void* user_data);
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t data_size);
  void SetMessageCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);

 private:
  struct MessageCallback {
    FlutterDesktopMessageCallback function = nullptr;
    void* user_data = nullptr;
  };

  struct PendingReply {
    uint64_t connection;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };

  Engine(EngineLaunch launch, std::unique_ptr<PlatformTaskRunner> task_runner);

  // InterfaceBridge::Listener, on the bridge's thread: each hands the work to the platform thread.
  void OnPlatformMessage(uint64_t connection, Frame frame) override;
  void OnHostMessageResponse(uint64_t connection, Frame frame) override;
  void OnCloseRequest() override;
  void OnConnectionEnded(uint64_t connection) override;

  // On the platform thread. Each makes its user callback as its very last step, because the
  // callback may destroy this engine.
  void DeliverPlatformMessage(uint64_t connection, const Frame& frame);
  void CompleteHostMessage(uint64_t connection, const Frame& frame);
  void EndRepliesOf(uint64_t connection);
  void CloseTopLevelWindow();
  void DrawFrame();

  // Allocates a host message id that is neither 0 nor waiting for a reply. replies_mutex_ held.
  uint32_t AllocateReplyId();

  const EngineLaunch launch_;
  // One reference held for good (see Messenger).
  Messenger* const messenger_;
  std::unique_ptr<PlatformTaskRunner> task_runner_;
  // The file that tells this user the secret the host made itself; null when the secret came
  // from the environment. Declared before the bridge, so the file outlives the listening port.
  std::unique_ptr<PublishedSecret> published_secret_;
  // Null until Run; destroyed before the task runner, so the bridge never posts into a dead one.
  std::unique_ptr<InterfaceBridge> bridge_;
  View* view_ = nullptr;
  std::map<std::string, std::unique_ptr<PluginRegistrar>> registrars_;

  // Platform thread only.
  FlutterDesktopVoidCallback next_frame_callback_ = nullptr;
  void* next_frame_user_data_ = nullptr;
  bool frame_scheduled_ = false;

  std::mutex callbacks_mutex_;
  std::map<std::string, MessageCallback> callbacks_;

  // Response handles given out and not yet used; freed with the engine if never used.
  std::mutex responses_mutex_;
  std::map<const ResponseHandle*, std::unique_ptr<ResponseHandle>> responses_;

  std::mutex replies_mutex_;
  std::map<uint32_t, PendingReply> replies_;
  uint32_t last_reply_id_ = 0;
};

}  // namespace pel_mora::embedding
