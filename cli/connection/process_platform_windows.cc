#include <windows.h>
#include <shellapi.h>

#include <io.h>
#include <stdio.h>

#include "cli/connection/process_platform.h"

namespace pel_mora::cli {

namespace {

// Frees the argument array CommandLineToArgvW allocates.
class LocalMemory {
 public:
  explicit LocalMemory(void* memory) : memory_(memory) {}
  ~LocalMemory() {
    if (memory_ != nullptr) {
      LocalFree(memory_);
    }
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

 private:
  void* memory_;
};

std::string ToUtf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return std::string();
  }
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length) - 1);  // without the terminator
  return out;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  // argv holds the arguments in the ANSI code page, which cannot carry every character a JSON
  // argument may hold; the wide command line can.
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  }
  const LocalMemory owner(arguments);
  std::vector<std::string> result;
  for (int index = 1; index < count; ++index) {
    result.push_back(ToUtf8(arguments[index]));
  }
  return result;
}

void PrepareConsoleOutput() {
  // Replies and paths are UTF-8; the console shows them right only with the UTF-8 code page.
  SetConsoleOutputCP(CP_UTF8);
}

bool StandardErrorIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

size_t StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO information{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &information)) {
    return 0;
  }
  return static_cast<size_t>(information.srWindow.Right - information.srWindow.Left + 1);
}

bool StandardInputIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

std::unique_ptr<HostPlatform> CreateHostPlatform() {
  // This build talks to a host that is already running: pelmora.exe prints its port.
  return nullptr;
}

}  // namespace pel_mora::cli
