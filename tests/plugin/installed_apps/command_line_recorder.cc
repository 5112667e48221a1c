// A stand-in uninstaller for the launch tests: writes the command line it was started with, as
// UTF-8, to the file named by its first argument. It writes a temporary file first and renames
// it, so a test that sees the file sees all of it.

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

}  // namespace

int wmain() {
  const wchar_t* command_line = GetCommandLineW();
  int argument_count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line, &argument_count);
  if (arguments == nullptr || argument_count < 2) {
    return 2;
  }
  const std::wstring target = arguments[1];
  LocalFree(arguments);
  const std::wstring partial = target + L".partial";
  const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  const std::string text = ToUtf8(command_line);
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!wrote || !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 4;
  }
  return 0;
}
