#include "plugin/string_conversion.h"

#include <windows.h>

#include <climits>

namespace pel_mora {

std::wstring Utf8ToWide(std::string_view text) {
  // The Win32 call takes an int length; a longer input cannot come from the channel anyway.
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
    return {};
  }
  const int input_length = static_cast<int>(text.size());
  // The first call only measures; the input has no terminator, so none is counted.
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), input_length, nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, text.data(), input_length, wide.data(), length) != length) {
    return {};
  }
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
    return {};
  }
  const int input_length = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), input_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), input_length, narrow.data(), length, nullptr, nullptr) != length) {
    return {};
  }
  return narrow;
}

void WideToUtf8(std::wstring_view text, std::string& output) {
  output.clear();
  // Each UTF-16 unit gives at most three bytes (a surrogate pair, two units, gives four), so one
  // call into a buffer of that bound converts without measuring first.
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX / 3)) {
    return;
  }
  const int input_length = static_cast<int>(text.size());
  output.resize(text.size() * 3);
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), input_length, output.data(),
                                         static_cast<int>(output.size()), nullptr, nullptr);
  output.resize(length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace pel_mora
