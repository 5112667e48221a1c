#include "runner/entrypoint_arguments.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>

namespace {

// CommandLineToArgvW allocates the array with LocalAlloc.
struct LocalFreeDeleter {
  void operator()(wchar_t** block) const { LocalFree(block); }
};

// The longest argument a command line can hold; longer input is cut to it.
constexpr size_t kMaximumArgumentLength = 32767;

}  // namespace

std::string ArgumentToUtf8(const wchar_t* argument) {
  if (argument == nullptr) {
    return std::string();
  }
  const int input_length = static_cast<int>(wcsnlen(argument, kMaximumArgumentLength));
  if (input_length == 0) {
    return std::string();
  }
  // WC_ERR_INVALID_CHARS makes an unpaired surrogate a failure instead of a silent U+FFFD.
  const int target_length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, input_length, nullptr, 0, nullptr, nullptr);
  if (target_length == 0) {
    return std::string();
  }
  std::string utf8(static_cast<size_t>(target_length), '\0');
  const int converted = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, input_length, utf8.data(),
                                            target_length, nullptr, nullptr);
  if (converted == 0) {
    return std::string();
  }
  return utf8;
}

std::vector<std::string> CollectEntrypointArguments() {
  int argument_count = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> arguments(CommandLineToArgvW(GetCommandLineW(), &argument_count));
  if (arguments == nullptr) {
    return {};
  }
  std::vector<std::string> utf8_arguments;
  // The first element is the program name, which the entry point never receives.
  for (int index = 1; index < argument_count; ++index) {
    utf8_arguments.push_back(ArgumentToUtf8(arguments.get()[index]));
  }
  return utf8_arguments;
}
