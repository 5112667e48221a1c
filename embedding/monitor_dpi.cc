#include "embedding/monitor_dpi.h"

#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

namespace {

constexpr UINT kDefaultDpi = 96;
// MONITOR_DPI_TYPE's MDT_EFFECTIVE_DPI: the DPI the user's scale setting gives the monitor.
constexpr int kEffectiveDpi = 0;

using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

}  // namespace

UINT MonitorDpi(HMONITOR monitor) {
  if (monitor == nullptr) {
    return kDefaultDpi;
  }
  const ModuleHandle shcore(LoadLibraryW(L"shcore.dll"));
  if (shcore.get() == nullptr) {
    return kDefaultDpi;
  }
  const FARPROC address = GetProcAddress(shcore.get(), "GetDpiForMonitor");
  if (address == nullptr) {
    return kDefaultDpi;
  }
  // Through the generic function pointer type, which converts to any other without a warning.
  const auto get_dpi_for_monitor =
      reinterpret_cast<GetDpiForMonitorFunction>(reinterpret_cast<void (*)()>(address));
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (FAILED(get_dpi_for_monitor(monitor, kEffectiveDpi, &dpi_x, &dpi_y)) || dpi_x == 0) {
    return kDefaultDpi;
  }
  return dpi_x;
}

}  // namespace pel_mora::embedding
