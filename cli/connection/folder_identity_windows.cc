#include <windows.h>

#include <string>

#include "cli/connection/folder_identity.h"

namespace pel_mora::cli {

namespace {

// Closes the handle CreateFileW opened.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::wstring ToWide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  }
  return wide;
}

}  // namespace

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
  if (path.empty()) {
    return std::nullopt;
  }
  // No access is asked for: reading the identity needs none. Backup semantics let a folder be
  // opened at all, and the open follows links as any other open of the path does.
  const FileHandle file(CreateFileW(ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) {
    return std::nullopt;
  }
  return FolderIdentity{information.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

}  // namespace pel_mora::cli
