#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <variant>

#include "channel/flutter_embedding.h"

namespace flutter {

// A texture whose pixels the engine copies from a buffer the application fills.
class PixelBufferTexture {
 public:
  // Called by the engine, on its raster thread, with the size it wants; returns the buffer to
  // copy, which must stay valid until the engine's next call.
  using CopyBufferCallback = std::function<const FlutterDesktopPixelBuffer*(size_t width, size_t height)>;

  explicit PixelBufferTexture(CopyBufferCallback copy_buffer) : copy_buffer_(std::move(copy_buffer)) {}

  const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height) const {
    return copy_buffer_ ? copy_buffer_(width, height) : nullptr;
  }

 private:
  CopyBufferCallback copy_buffer_;
};

// A texture the engine reads from a GPU surface the application shares with it.
class GpuSurfaceTexture {
 public:
  // Called by the engine with the size it wants; returns the descriptor of the surface to show.
  using ObtainDescriptorCallback =
      std::function<const FlutterDesktopGpuSurfaceDescriptor*(size_t width, size_t height)>;

  // `surface_type` is the embedding's number for the kind of surface handle.
  GpuSurfaceTexture(int surface_type, ObtainDescriptorCallback obtain_descriptor)
      : surface_type_(surface_type), obtain_descriptor_(std::move(obtain_descriptor)) {}

  int surface_type() const { return surface_type_; }

  const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(size_t width, size_t height) const {
    return obtain_descriptor_ ? obtain_descriptor_(width, height) : nullptr;
  }

 private:
  int surface_type_;
  ObtainDescriptorCallback obtain_descriptor_;
};

// A texture of one of the kinds above. A default-constructed variant holds no kind: registering it
// is refused.
using TextureVariant = std::variant<std::monostate, PixelBufferTexture, GpuSurfaceTexture>;

// Registers application textures with the engine. Platform thread.
class TextureRegistrar {
 public:
  TextureRegistrar() = default;
  virtual ~TextureRegistrar() = default;

  TextureRegistrar(const TextureRegistrar&) = delete;
  TextureRegistrar& operator=(const TextureRegistrar&) = delete;

  // The texture id, or -1 on failure. `texture` is the engine's user data while registered, so it
  // must stay where it is until it is unregistered.
  virtual int64_t RegisterTexture(TextureVariant* texture) = 0;
  virtual bool MarkTextureFrameAvailable(int64_t texture_id) = 0;
  virtual bool UnregisterTexture(int64_t texture_id) = 0;
  // `callback`, when set, runs once when the engine has let go of the texture.
  virtual void UnregisterTexture(int64_t texture_id, std::function<void()> callback) = 0;
};

class TextureRegistrarImpl : public TextureRegistrar {
 public:
  explicit TextureRegistrarImpl(FlutterDesktopTextureRegistrarRef texture_registrar)
      : texture_registrar_(texture_registrar) {}

  int64_t RegisterTexture(TextureVariant* texture) override;
  bool MarkTextureFrameAvailable(int64_t texture_id) override;
  bool UnregisterTexture(int64_t texture_id) override;
  void UnregisterTexture(int64_t texture_id, std::function<void()> callback) override;

 private:
  FlutterDesktopTextureRegistrarRef texture_registrar_;
};

}  // namespace flutter
