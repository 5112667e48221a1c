#include "plugin/installed_apps/command_starter_win32.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <vector>

namespace pel_mora {

namespace {

// COM for the shell on this worker thread, released when the launch is done. The shell may use
// COM to resolve associations; a thread that already has COM in another mode keeps it.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

}  // namespace

PathKind Win32CommandStarter::KindOf(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::kMissing;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
}

std::wstring Win32CommandStarter::ExpandEnvironment(const std::wstring& text) {
  // The first call reports the size the expansion needs (terminator included); the variables may
  // change between the calls, so the second is checked against the room it was given.
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) {
    return text;
  }
  std::vector<wchar_t> expanded(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
  if (written == 0 || written > needed) {
    return text;
  }
  return std::wstring(expanded.data());
}

bool Win32CommandStarter::StartProcess(const std::wstring& command_line) {
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  // The uninstaller runs on its own; nothing here waits for it or keeps it.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

intptr_t Win32CommandStarter::OpenWithShell(const std::wstring& program, const std::wstring& parameters) {
  const ComApartment apartment;
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", program.c_str(),
                                         parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<intptr_t>(result);
}

}  // namespace pel_mora
