#include "channel/texture_registrar.h"

#include <exception>
#include <memory>
#include <string>

#include "channel/diagnostic_output.h"

namespace flutter {

namespace {

// The embedding's callbacks. They are C callbacks: nothing may unwind into the embedding, and a
// texture that fails to produce a frame yields none.

const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height, void* user_data) {
  try {
    return static_cast<const PixelBufferTexture*>(user_data)->CopyPixelBuffer(width, height);
  } catch (...) {
    return nullptr;
  }
}

const FlutterDesktopGpuSurfaceDescriptor* ObtainGpuSurfaceDescriptor(size_t width, size_t height, void* user_data) {
  try {
    return static_cast<const GpuSurfaceTexture*>(user_data)->ObtainDescriptor(width, height);
  } catch (...) {
    return nullptr;
  }
}

// `user_data` is the heap copy of the caller's callable, used once and freed here.
void OnTextureUnregistered(void* user_data) {
  std::unique_ptr<std::function<void()>> callback(static_cast<std::function<void()>*>(user_data));
  try {
    (*callback)();
  } catch (const std::exception& error) {
    WriteDiagnosticLine(std::string("Unhandled exception in a texture unregistration callback: ") + error.what());
  } catch (...) {
    WriteDiagnosticLine("Unhandled exception in a texture unregistration callback.");
  }
}

}  // namespace

int64_t TextureRegistrarImpl::RegisterTexture(TextureVariant* texture) {
  FlutterDesktopTextureInfo info = {};
  if (auto* pixel_buffer = std::get_if<PixelBufferTexture>(texture)) {
    info.type = kFlutterDesktopPixelBufferTexture;
    info.pixel_buffer_config.callback = CopyPixelBuffer;
    info.pixel_buffer_config.user_data = pixel_buffer;
  } else if (auto* gpu_surface = std::get_if<GpuSurfaceTexture>(texture)) {
    info.type = kFlutterDesktopGpuSurfaceTexture;
    info.gpu_surface_config.struct_size = sizeof(FlutterDesktopGpuSurfaceTextureConfig);
    info.gpu_surface_config.type = gpu_surface->surface_type();
    info.gpu_surface_config.callback = ObtainGpuSurfaceDescriptor;
    info.gpu_surface_config.user_data = gpu_surface;
  } else {
    WriteDiagnosticLine("Attempting to register unknown texture variant.");
    return -1;
  }
  return FlutterDesktopTextureRegistrarRegisterExternalTexture(texture_registrar_, &info);
}

bool TextureRegistrarImpl::MarkTextureFrameAvailable(int64_t texture_id) {
  return FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(texture_registrar_, texture_id);
}

bool TextureRegistrarImpl::UnregisterTexture(int64_t texture_id) {
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id, nullptr, nullptr);
  return true;
}

void TextureRegistrarImpl::UnregisterTexture(int64_t texture_id, std::function<void()> callback) {
  if (!callback) {
    UnregisterTexture(texture_id);
    return;
  }
  // The embedding owns the copy once called; it calls back exactly once.
  auto* pending_callback = new std::function<void()>(std::move(callback));
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id, OnTextureUnregistered,
                                                          pending_callback);
}

}  // namespace flutter
