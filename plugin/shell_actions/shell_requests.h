#pragma once

// What the shell actions ask of the Windows shell, decided without touching it: which verb, file
// and parameter text go to ShellExecuteW. Kept free of Win32 so the decisions are tested natively.

#include <string>
#include <string_view>

namespace pel_mora {

// The show command handed to the shell; the Win32 layer maps it to SW_SHOWNORMAL or
// SW_SHOWDEFAULT.
enum class ShowCommand { kNormal, kDefault };

// One ShellExecuteW call: no owner window and no working folder in every case here.
struct ShellRequest {
  std::wstring verb;
  std::wstring file;
  // Empty means no parameters (a null pointer to the shell).
  std::wstring parameters;
  ShowCommand show_command = ShowCommand::kDefault;

  bool operator==(const ShellRequest&) const = default;
};

// What GetFileAttributesW said about a path.
enum class PathKind { kFile, kFolder, kUnreadable };

// Opens `path` with the application associated with its type.
ShellRequest OpenFileRequest(const std::wstring& path);

// The parameter text that makes Explorer open the containing folder with `path` selected:
// "/select," and the path between double quotes, nothing else escaped.
std::wstring ExplorerSelectParameters(std::wstring_view path);

// Shows `path` in Explorer: an existing file is selected in its folder; a folder, or a path whose
// attributes cannot be read, is explored itself.
ShellRequest ExplorerRequest(const std::wstring& path, PathKind kind);

}  // namespace pel_mora
