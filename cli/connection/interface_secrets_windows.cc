#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "cli/connection/host_platform.h"
#include "cli/connection/interface_secrets.h"

namespace pel_mora::cli {

namespace {

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  }
  return wide;
}

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return std::string();
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length) - 1);
  return narrow;
}

// The user's local application data, where a host of this user publishes the secret it made.
// Its folder and the file are protected by the host's own access list.
std::string LocalAppData() {
  PWSTR path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
  std::string folder = SUCCEEDED(result) ? Utf8(path) : std::string();
  CoTaskMemFree(path);
  return folder;
}

SecretFileReading ReadSecretFile(const std::string& path) {
  SecretFileReading reading;
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      reading.status = SecretFileReading::Status::kRefused;
      reading.problem = "CreateFileW failed with error " + std::to_string(error);
    }
    return reading;
  }
  char buffer[256];
  DWORD count = 0;
  if (ReadFile(file, buffer, sizeof(buffer), &count, nullptr)) {
    reading.status = SecretFileReading::Status::kRead;
    reading.text.assign(buffer, count);
  } else {
    reading.status = SecretFileReading::Status::kRefused;
    reading.problem = "ReadFile failed with error " + std::to_string(GetLastError());
  }
  CloseHandle(file);
  return reading;
}

}  // namespace

embedding::InterfaceSecret NewInterfaceSecret() {
  embedding::InterfaceSecret secret{};
  const NTSTATUS status =
      BCryptGenRandom(nullptr, secret.data(), static_cast<ULONG>(secret.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) {
    throw PlatformError("BCryptGenRandom failed with status " + std::to_string(static_cast<unsigned long>(status)));
  }
  return secret;
}

embedding::InterfaceSecret RunningHostSecret(uint16_t port) {
  std::vector<std::string> files;
  const std::string folder = LocalAppData();
  if (!folder.empty()) {
    files.push_back(folder + "\\Pelmora\\interface-bridge-" + std::to_string(port) + ".secret");
  }
  return ChooseRunningHostSecret(port, std::getenv(embedding::kInterfaceSecretVariable), files, ReadSecretFile);
}

}  // namespace pel_mora::cli
