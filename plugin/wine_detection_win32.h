#pragma once

// Whether the process runs under Wine. Used only where Wine's calls are known to do less or more
// than Windows' (a volume serial that follows drive letters, one Recycle Bin for every drive,
// every drive letter a volume of its own), never to change what the host promises.

#include <windows.h>

namespace pel_mora {

inline bool IsRunningUnderWine() {
  // Wine's ntdll exports its version; Windows' does not.
  static const bool under_wine = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return under_wine;
}

}  // namespace pel_mora
