#include "embedding/host_environment.h"

#include <windows.h>

#include <climits>
#include <cwchar>
#include <iterator>

#include "embedding/interface_endpoint.h"

namespace pel_mora::embedding {

namespace {

bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

bool IsRelative(const std::wstring& path) {
  if (!path.empty() && IsSeparator(path[0])) {
    return false;
  }
  const bool has_drive = path.size() >= 2 && path[1] == L':' &&
                         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
  return !has_drive;
}

// The executable's own folder, without a trailing separator; empty if it cannot be found.
std::wstring ExecutableFolder() {
  // GetModuleFileNameW truncates silently when the buffer is too small (returning its size),
  // so the buffer grows until the name fits.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) {
      return {};
    }
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    if (name.size() >= 32768) {
      return {};
    }
    name.resize(name.size() * 2);
  }
  const size_t separator = name.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : name.substr(0, separator);
}

}  // namespace

std::string WideToUtf8(const wchar_t* text) {
  if (text == nullptr) {
    return {};
  }
  const size_t input_size = std::wcslen(text);
  if (input_size == 0 || input_size > static_cast<size_t>(INT_MAX)) {
    return {};
  }
  const int input_length = static_cast<int>(input_size);
  const int length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, input_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, input_length, narrow.data(), length, nullptr,
                          nullptr) != length) {
    return {};
  }
  return narrow;
}

std::wstring ResolveAgainstExecutableFolder(const std::wstring& path) {
  if (!IsRelative(path)) {
    return path;
  }
  const std::wstring folder = ExecutableFolder();
  if (folder.empty()) {
    // Never fall back to the current folder: an empty path is simply not found.
    return {};
  }
  return folder + L"\\" + path;
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<uint16_t> InterfacePortFromEnvironment() {
  // GetEnvironmentVariableW sees changes made with SetEnvironmentVariableW after start-up,
  // which the C runtime's copy of the environment does not.
  wchar_t name[sizeof(kInterfacePortVariable)];
  for (size_t index = 0; index < sizeof(kInterfacePortVariable); ++index) {
    name[index] = static_cast<wchar_t>(kInterfacePortVariable[index]);
  }
  wchar_t value[64] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
  // 0: unset or empty. Not below the buffer size: too long to be a port.
  if (length == 0 || length >= std::size(value)) {
    return std::nullopt;
  }
  return ParseInterfacePort(WideToUtf8(value));
}

}  // namespace pel_mora::embedding
