#include <windows.h>
#include <shellapi.h>

#include "plugin/operations.h"
#include "plugin/shell_actions/com_ownership.h"
#include "plugin/shell_actions/shell_actions.h"

namespace pel_mora {

intptr_t LaunchThroughShell(const ShellRequest& request) {
  // The shell may hand the request to shell extensions that expect a single-threaded apartment;
  // this worker thread has none of its own yet.
  const ComApartment apartment;
  const int show_command = request.show_command == ShowCommand::kNormal ? SW_SHOWNORMAL : SW_SHOWDEFAULT;
  const HINSTANCE started =
      ShellExecuteW(nullptr, request.verb.c_str(), request.file.c_str(),
                    request.parameters.empty() ? nullptr : request.parameters.c_str(), nullptr, show_command);
  // Not a real module handle: an integer result kept in a HINSTANCE for compatibility.
  return reinterpret_cast<intptr_t>(started);
}

PathKind ReadPathKind(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::kUnreadable;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
}

WorkerReply OpenFileWith(const std::wstring& path, const ShellLauncher& launch) {
  if (launch(OpenFileRequest(path)) > 32) {
    return flutter::EncodableValue(true);
  }
  return WorkerError{"OPEN_ERROR", "Failed to open file."};
}

WorkerReply OpenInExplorerWith(const std::wstring& path, const ShellLauncher& launch) {
  launch(ExplorerRequest(path, ReadPathKind(path)));
  return flutter::EncodableValue(true);
}

WorkerReply OpenFileOperation(const std::wstring& path) {
  return OpenFileWith(path, LaunchThroughShell);
}

WorkerReply OpenInExplorerOperation(const std::wstring& path) {
  return OpenInExplorerWith(path, LaunchThroughShell);
}

}  // namespace pel_mora
