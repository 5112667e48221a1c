#include <windows.h>

#include <objbase.h>

#include "channel/flutter_engine.h"
#include "runner/debug_console.h"
#include "runner/entrypoint_arguments.h"
#include "runner/flutter_window.h"

int APIENTRY wWinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE previous_instance, _In_ wchar_t* command_line,
                      _In_ int show_command) {
  (void)instance;
  (void)previous_instance;
  (void)command_line;
  (void)show_command;

  // Started from a console: write to it. Under a debugger without one: open one.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) {
    OpenDebugConsole();
  }

  // The platform thread is a single-threaded COM apartment (the folder picker needs one).
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  // Relative paths, handed to the embedding as they are; it resolves them beside the executable.
  const std::wstring data_folder = L"data";
  flutter::EngineProject project;
  project.assets_path = data_folder + L"\\flutter_assets";
  project.icu_data_path = data_folder + L"\\icudtl.dat";
  project.aot_library_path = data_folder + L"\\app.so";
  project.dart_entrypoint_arguments = CollectEntrypointArguments();

  FlutterWindow window(project);
  const Win32Window::Point origin(10, 10);
  const Win32Window::Size size(1280, 800);
  if (!window.Create(L"Pelmora", origin, size)) {
    return EXIT_FAILURE;
  }
  window.SetQuitOnClose(true);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  // ORDER: COM goes before the window object, whose destruction ends the plugins; the engine and
  // its view were already torn down when the window was destroyed. Workers still running are
  // never joined: the process ends when this function returns.
  CoUninitialize();
  return EXIT_SUCCESS;
}
