#pragma once

// The C calls this host makes into the Flutter Windows embedding library and the URL-launcher
// plugin library. Handles are opaque. The channel glue, the runner and the plugin only ever see
// the library through these declarations, so the stand-in embedding (embedding/), a real
// embedding SDK and the fake that the native tests link all fit behind them.
//
// Threads: every callback the embedding makes (incoming messages, the next-frame callback) runs
// on the platform thread, the thread that created the engine and runs the message loop. The
// messenger calls may be made from any thread.

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
// The window types, so the platform-free layer also builds (and is tested) off Windows.
typedef void* HWND;
typedef void* HMONITOR;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopTextureRegistrar* FlutterDesktopTextureRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// ---- Engine ----

// What the engine is started with. All pointers are borrowed for the duration of the create call.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  // UTF-8; never null: an empty string selects the default entry point.
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  // UTF-8 strings; null when there are no arguments.
  const char** dart_entrypoint_argv;
  // Further engine options, zero unless set.
  int gpu_preference;
  int platform_thread_priority;
} FlutterDesktopEngineProperties;

typedef void (*FlutterDesktopVoidCallback)(void* user_data);

// Null when the engine cannot be created (for example without its assets).
FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                        const char* plugin_name);
// Calls `callback` once, on the platform thread, after the next frame has been drawn.
void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, FlutterDesktopVoidCallback callback,
                                              void* user_data);
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);

// ---- View controller and view ----

// Takes over `engine` and starts it; null on failure. Destroying the controller ends the engine.
// The engine is taken over even when the call fails (it is then ended), so the caller never
// destroys an engine it has passed here.
FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);
void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);
FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller);
// True when the embedding consumed the top-level window's message; `result` then holds its answer.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef controller, HWND hwnd,
                                                          UINT message, WPARAM wparam, LPARAM lparam,
                                                          LRESULT* result);
HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// ---- Process-wide ----

// 96 is 100 %.
UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
// Makes the engine's output follow standard streams that were reopened (after a console attach).
void FlutterDesktopResyncOutputStreams(void);

// ---- Messenger ----

// One incoming platform message.
typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  // Used up by the one FlutterDesktopMessengerSendResponse call that answers the message.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// Any thread. Send and SendResponse are also called by threads that hold FlutterDesktopMessengerLock
// (replies and event sinks send under it, after checking availability), so neither may wait for
// that lock itself.
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 size_t message_size);
// True: `reply` will be called once with the response. False: it will never be called.
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data);
void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_size);
// `callback` is called on the platform thread for each message on `channel`; null unregisters.
void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data);
// The messenger object is reference counted: it may outlive its engine, and then it is
// "unavailable" and drops whatever is sent through it.
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
// Excludes engine teardown while held; returns the messenger (non-null) when the lock was taken.
FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

// ---- Plugin registrar ----

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);
// Null when the registrar has no view.
FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar);
FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(FlutterDesktopPluginRegistrarRef registrar);

// ---- Textures ----

typedef enum {
  kFlutterDesktopPixelBufferTexture = 0,
  kFlutterDesktopGpuSurfaceTexture = 1,
} FlutterDesktopTextureType;

typedef struct {
  const uint8_t* buffer;
  size_t width;
  size_t height;
  void (*release_callback)(void* release_context);
  void* release_context;
} FlutterDesktopPixelBuffer;

typedef const FlutterDesktopPixelBuffer* (*FlutterDesktopPixelBufferTextureCallback)(size_t width, size_t height,
                                                                                    void* user_data);

typedef struct {
  FlutterDesktopPixelBufferTextureCallback callback;
  void* user_data;
} FlutterDesktopPixelBufferTextureConfig;

typedef struct {
  size_t struct_size;
  void* handle;
  size_t width;
  size_t height;
  size_t visible_width;
  size_t visible_height;
  int format;
  void (*release_callback)(void* release_context);
  void* release_context;
} FlutterDesktopGpuSurfaceDescriptor;

typedef const FlutterDesktopGpuSurfaceDescriptor* (*FlutterDesktopGpuSurfaceTextureCallback)(size_t width,
                                                                                            size_t height,
                                                                                            void* user_data);

typedef struct {
  // The size of this record, so the library can tell versions apart.
  size_t struct_size;
  int type;
  FlutterDesktopGpuSurfaceTextureCallback callback;
  void* user_data;
} FlutterDesktopGpuSurfaceTextureConfig;

typedef struct {
  FlutterDesktopTextureType type;
  union {
    FlutterDesktopPixelBufferTextureConfig pixel_buffer_config;
    FlutterDesktopGpuSurfaceTextureConfig gpu_surface_config;
  };
} FlutterDesktopTextureInfo;

// The texture id, or -1 on failure.
int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(FlutterDesktopTextureRegistrarRef texture_registrar,
                                                              const FlutterDesktopTextureInfo* info);
// Calls `callback` (which may be null) once when the texture is gone.
void FlutterDesktopTextureRegistrarUnregisterExternalTexture(FlutterDesktopTextureRegistrarRef texture_registrar,
                                                             int64_t texture_id, FlutterDesktopVoidCallback callback,
                                                             void* user_data);
bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id);

// ---- URL-launcher plugin library ----

void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif
