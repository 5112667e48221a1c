// A stand-in for an associated application: started as
//   argument_recorder.exe RECORD_FILE ARGUMENT...
// it writes each ARGUMENT, UTF-8, one per line, to RECORD_FILE. The lines go to a temporary
// file that is then moved into place, so a test polling for RECORD_FILE never reads half of it.
// A GUI-subsystem program, so that starting it through the shell opens no console.

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return std::string();
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length - 1));
  return narrow;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 2) {
    return 2;
  }
  std::string lines;
  for (int index = 2; index < count; ++index) {
    lines += Utf8(arguments[index]);
    lines += '\n';
  }
  const std::wstring record = arguments[1];
  const std::wstring partial = record + L".partial";
  LocalFree(arguments);

  const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  CloseHandle(file);
  if (!wrote || !MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 4;
  }
  return 0;
}
