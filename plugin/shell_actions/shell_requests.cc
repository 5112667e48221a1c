#include "plugin/shell_actions/shell_requests.h"

namespace pel_mora {

ShellRequest OpenFileRequest(const std::wstring& path) {
  return ShellRequest{L"open", path, std::wstring(), ShowCommand::kNormal};
}

std::wstring ExplorerSelectParameters(std::wstring_view path) {
  std::wstring parameters = L"/select,\"";
  parameters.append(path);
  parameters.push_back(L'"');
  return parameters;
}

ShellRequest ExplorerRequest(const std::wstring& path, PathKind kind) {
  if (kind == PathKind::kFile) {
    return ShellRequest{L"open", L"explorer.exe", ExplorerSelectParameters(path), ShowCommand::kDefault};
  }
  return ShellRequest{L"explore", path, std::wstring(), ShowCommand::kDefault};
}

}  // namespace pel_mora
