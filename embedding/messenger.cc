#include "embedding/messenger.h"

#include "embedding/engine.h"

namespace pel_mora::embedding {

int64_t TextureRegistrar::Register(const FlutterDesktopTextureInfo* info) {
  if (info == nullptr) {
    return -1;
  }
  switch (info->type) {
    case kFlutterDesktopPixelBufferTexture:
      if (info->pixel_buffer_config.callback == nullptr) {
        return -1;
      }
      break;
    case kFlutterDesktopGpuSurfaceTexture:
      // The record's own size tells which fields the caller filled in; a record too small to
      // hold the callback cannot be used.
      if (info->gpu_surface_config.struct_size < sizeof(FlutterDesktopGpuSurfaceTextureConfig) ||
          info->gpu_surface_config.callback == nullptr) {
        return -1;
      }
      break;
    default:
      return -1;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t texture_id = next_id_++;
  textures_.insert(texture_id);
  return texture_id;
}

bool TextureRegistrar::Unregister(int64_t texture_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return textures_.erase(texture_id) > 0;
}

bool TextureRegistrar::IsRegistered(int64_t texture_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return textures_.count(texture_id) > 0;
}

void Messenger::AddReference() {
  references_.fetch_add(1, std::memory_order_relaxed);
}

void Messenger::Release() {
  // Acquire-release, so everything done through this object happens before its deletion.
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
  }
}

bool Messenger::IsAvailable() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return engine_ != nullptr;
}

bool Messenger::Send(const char* channel, const uint8_t* message, size_t message_size,
                     FlutterDesktopBinaryReply reply, void* user_data) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (engine_ == nullptr || channel == nullptr || (message == nullptr && message_size > 0)) {
    return false;
  }
  return engine_->SendHostMessage(channel, message, message_size, reply, user_data);
}

void Messenger::SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                             size_t data_size) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (engine_ == nullptr || (data == nullptr && data_size > 0)) {
    return;
  }
  engine_->SendResponse(handle, data, data_size);
}

void Messenger::SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (engine_ == nullptr || channel == nullptr) {
    return;
  }
  engine_->SetMessageCallback(channel, callback, user_data);
}

void Messenger::DetachEngine() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  engine_ = nullptr;
}

}  // namespace pel_mora::embedding
