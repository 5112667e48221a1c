#include "runner/debug_console.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <iostream>

#include "channel/flutter_embedding.h"

void OpenDebugConsole() {
  if (!AllocConsole()) {
    return;
  }
  FILE* unused = nullptr;
  if (freopen_s(&unused, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&unused, "CONOUT$", "w", stderr) != 0) {
    // Error output then shares the console stream of standard output.
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio();
  // The embedding keeps its own handles to the streams; make it pick up the new ones.
  FlutterDesktopResyncOutputStreams();
}
