#pragma once

#include <windows.h>

namespace pel_mora::embedding {

// The monitor's effective DPI from GetDpiForMonitor (shcore.dll, Windows 8.1 and later, looked
// up at run time so the library loads on any system), or 96 when the system gives none.
UINT MonitorDpi(HMONITOR monitor);

}  // namespace pel_mora::embedding
