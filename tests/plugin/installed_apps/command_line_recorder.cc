// A stand-in uninstaller for the launch tests: writes the command line it was started with and
// then each of its arguments after the program, one a line, as UTF-8, to the file named by its
// first argument. It writes a temporary file first and renames it, so a test that sees the file
// sees all of it. Before that it leaves a mark beside itself (its own path plus ".ran"), so a
// copy planted where it must never be started shows whether it was, whatever its arguments.

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string output(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), output.data(), length, nullptr,
                        nullptr);
  }
  return output;
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return wrote && written == text.size();
}

}  // namespace

int wmain() {
  const wchar_t* command_line = GetCommandLineW();
  wchar_t own_path[MAX_PATH] = {};
  const DWORD own_length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (own_length == 0 || own_length >= MAX_PATH ||
      !WriteWholeFile(std::wstring(own_path) + L".ran", ToUtf8(command_line))) {
    return 5;
  }
  int argument_count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line, &argument_count);
  if (arguments == nullptr || argument_count < 2) {
    return 2;
  }
  const std::wstring target = arguments[1];
  std::string text = ToUtf8(command_line);
  for (int index = 1; index < argument_count; ++index) {
    text += "\n" + ToUtf8(arguments[index]);
  }
  LocalFree(arguments);
  const std::wstring partial = target + L".partial";
  if (!WriteWholeFile(partial, text)) {
    return 3;
  }
  if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 4;
  }
  return 0;
}
