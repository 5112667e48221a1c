#include "tests/plugin/cleanup/system_canary.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "plugin/file_handle.h"
#include "plugin/string_conversion.h"
#include "tests/plugin/cleanup/trash_fixture.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora::test_support {
namespace {

constexpr wchar_t kInnerFile[] = L"\\inner.bin";

void CreateCanaryFile(const std::wstring& path) {
  const FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file.IsValid() || !WriteFile(file.Get(), "canary", 6, &written, nullptr)) {
    throw std::runtime_error("cannot create the canary " + WideToUtf8(path) + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
}

}  // namespace

std::wstring PrefixDriveCUnixFolder() {
  return EnvironmentVariable(L"WINEPREFIX") + L"/drive_c";
}

bool PollUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

SystemCanary::SystemCanary(const std::wstring& windows_folder, Kind kind)
    : windows_folder_(windows_folder), name_(UniqueName(L"pelmora-canary", L"bin")), kind_(kind) {
  path_ = windows_folder_ + L'\\' + name_;
  if (kind_ == Kind::kFile) {
    CreateCanaryFile(path_);
    return;
  }
  if (!CreateDirectoryW(path_.c_str(), nullptr)) {
    throw std::runtime_error("cannot create the canary folder " + WideToUtf8(path_));
  }
  CreateCanaryFile(path_ + kInnerFile);
}

SystemCanary::~SystemCanary() {
  if (kind_ == Kind::kFolderWithFile) {
    DeleteFileW((path_ + kInnerFile).c_str());
    RemoveDirectoryW(path_.c_str());
  } else {
    DeleteFileW(path_.c_str());
  }
}

std::wstring SystemCanary::UnixPath() const {
  // "C:\windows\system32\x" lies at "<prefix>/drive_c/windows/system32/x".
  std::wstring unix_path = PrefixDriveCUnixFolder();
  for (const wchar_t character : path_.substr(2)) {
    unix_path += character == L'\\' ? L'/' : character;
  }
  return unix_path;
}

bool SystemCanary::Intact() const {
  return PathExists(kind_ == Kind::kFile ? path_ : path_ + kInnerFile);
}

}  // namespace pel_mora::test_support
