#include "plugin/cleanup/wine_trash_win32.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace pel_mora {

namespace {

// Wine's own export that names a Unix path the Windows way; it exists only under Wine. Empty when
// it is missing or fails.
std::wstring WindowsPathOfUnixPath(const std::string& unix_path) {
  using UnixToDosFunction = WCHAR*(CDECL*)(const char*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto unix_to_dos = kernel == nullptr ? nullptr
                                             : reinterpret_cast<UnixToDosFunction>(reinterpret_cast<void*>(
                                                   GetProcAddress(kernel, "wine_get_dos_file_name")));
  if (unix_to_dos == nullptr) {
    return {};
  }
  WCHAR* dos_name = unix_to_dos(unix_path.c_str());
  if (dos_name == nullptr) {
    return {};
  }
  std::wstring path(dos_name);
  // Wine allocates the name on the process heap.
  HeapFree(GetProcessHeap(), 0, dos_name);
  return path;
}

bool IsUnderWine() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr && GetProcAddress(kernel, "wine_get_dos_file_name") != nullptr;
}

}  // namespace

std::wstring WineTrashFolder() {
  if (!IsUnderWine()) {
    return {};
  }
  // Wine passes the Unix environment on, so the variables its trash code reads are visible here.
  std::string data_home;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    data_home = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    data_home = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  return WindowsPathOfUnixPath(data_home + "/Trash");
}

}  // namespace pel_mora
