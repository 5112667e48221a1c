#include "channel/flutter_embedding.h"

// The URL-launcher plugin library's registration. The stand-in host has no interface that could
// ask for a URL to be opened, so there is nothing to register.
void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef /*registrar*/) {}
