#pragma once

// The messenger object behind FlutterDesktopMessengerRef, and the texture registrar that lives
// beside it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

#include "channel/flutter_embedding.h"

namespace pel_mora::embedding {

class Engine;

// Bookkeeping only: nothing is drawn, so a texture is an id that exists until it is unregistered.
class TextureRegistrar {
 public:
  // A new id (counting up from 1), or -1 when the description is missing or of an unknown type.
  int64_t Register(const FlutterDesktopTextureInfo* info);
  // False when the id was not registered.
  bool Unregister(int64_t texture_id);
  bool IsRegistered(int64_t texture_id);

 private:
  std::mutex mutex_;
  std::set<int64_t> textures_;
  int64_t next_id_ = 1;
};

// The engine's messenger. Every operation may be called from any thread. The lock is the one
// callers take around a response (FlutterDesktopMessengerLock): it is recursive, so the calls
// made while holding it take it again safely, and engine teardown takes it to detach the engine,
// so no call is ever inside an engine that is being destroyed.
//
// Reference counted: the engine holds the first reference and never gives it back. Plugin
// registrars hand this object (and its texture registrar) to plugins as plain pointers, and a
// plugin, or one of its worker threads, may still send through it after the engine has ended,
// until the process ends. So a messenger outlives its engine for good, unavailable: a few dozen
// bytes per engine, and a process makes one.
class Messenger {
 public:
  explicit Messenger(Engine* engine) : engine_(engine) {}

  Messenger(const Messenger&) = delete;
  Messenger& operator=(const Messenger&) = delete;

  void AddReference();
  // Deletes the object when the last reference goes.
  void Release();

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

  // False once the engine has been destroyed.
  bool IsAvailable();
  // Dropped (false) once the engine has been destroyed.
  bool Send(const char* channel, const uint8_t* message, size_t message_size, FlutterDesktopBinaryReply reply,
            void* user_data);
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t data_size);
  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);

  // Engine teardown, on the platform thread: waits for any caller holding the lock, and from then
  // on every operation finds no engine.
  void DetachEngine();

  TextureRegistrar* textures() { return &textures_; }

 private:
  ~Messenger() = default;

  std::recursive_mutex mutex_;
  // Guarded by mutex_.
  Engine* engine_;
  std::atomic<uint32_t> references_{1};
  TextureRegistrar textures_;
};

}  // namespace pel_mora::embedding
