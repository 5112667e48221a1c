// The protected key store: one file per key in "<local application data>\Pelmora\Secure", each
// holding exactly the bytes that CryptProtectData returned for the value, bound to the current
// user and to the entropy "Pelmora:" + key, so a file copied to another key's name never decrypts.

#include <windows.h>
#include <dpapi.h>
#include <shlobj.h>

#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "plugin/file_handle.h"
#include "plugin/key_store/key_file_name.h"
#include "plugin/key_store/key_store.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"

namespace pel_mora {

namespace {

// The output of CryptProtectData and CryptUnprotectData, which the caller frees with LocalFree.
class ProtectedBlob {
 public:
  ProtectedBlob() = default;
  ~ProtectedBlob() {
    if (blob_.pbData != nullptr) {
      LocalFree(blob_.pbData);
    }
  }
  ProtectedBlob(const ProtectedBlob&) = delete;
  ProtectedBlob& operator=(const ProtectedBlob&) = delete;

  DATA_BLOB* Out() { return &blob_; }
  std::string Bytes() const { return std::string(reinterpret_cast<const char*>(blob_.pbData), blob_.cbData); }

 private:
  DATA_BLOB blob_{};
};

constexpr char kEntropyPrefix[] = "Pelmora:";
constexpr wchar_t kDescription[] = L"Pelmora Secure Storage";
constexpr wchar_t kExtension[] = L".dpapi";

DATA_BLOB BlobOver(const std::string& bytes) {
  DATA_BLOB blob{};
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return blob;
}

// The store folder, created when missing (an existing one is fine); empty when the system cannot
// say where the local application data folder is.
std::wstring SecureStoreFolder() {
  wchar_t local_app_data[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local_app_data))) {
    return std::wstring();
  }
  std::wstring folder = std::wstring(local_app_data) + L"\\Pelmora";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Secure";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

struct KeyFiles {
  // The key's own file.
  std::wstring current;
  // Where older versions stored it, a name other keys may share.
  std::wstring older;
};

std::optional<KeyFiles> FilesOfKey(const std::string& key) {
  const std::wstring folder = SecureStoreFolder();
  if (folder.empty()) {
    return std::nullopt;
  }
  return KeyFiles{folder + L"\\" + Utf8ToWide(KeyFileStem(key)) + kExtension,
                  folder + L"\\" + Utf8ToWide(SanitizeKeyName(key)) + kExtension};
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > (64 << 20)) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size()) {
    return std::nullopt;
  }
  return bytes;
}

// The value held in `path`, when the file exists and decrypts with this key's entropy.
std::optional<std::string> Decrypt(const std::wstring& path, const std::string& key) {
  const std::optional<std::string> sealed = ReadWholeFile(path);
  if (!sealed) {
    return std::nullopt;
  }
  const std::string entropy = kEntropyPrefix + key;
  DATA_BLOB input = BlobOver(*sealed);
  DATA_BLOB entropy_blob = BlobOver(entropy);
  ProtectedBlob output;
  if (!CryptUnprotectData(&input, nullptr, &entropy_blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          output.Out())) {
    return std::nullopt;
  }
  return output.Bytes();
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return false;
  }
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(file.Get());
}

// Deletes `path`; a file that is not there counts as deleted.
bool DeleteIfPresent(const std::wstring& path) {
  return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool WriteSecureValue(const std::string& key, const std::string& value, const KeyStoreHooks& hooks) {
  if (key.empty()) {
    return false;
  }
  const std::string entropy = kEntropyPrefix + key;
  DATA_BLOB input = BlobOver(value);
  DATA_BLOB entropy_blob = BlobOver(entropy);
  ProtectedBlob sealed;
  if (!CryptProtectData(&input, kDescription, &entropy_blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        sealed.Out())) {
    return false;
  }
  const std::optional<KeyFiles> files = FilesOfKey(key);
  if (!files) {
    return false;
  }
  // The new value goes into a file of its own first and then replaces the old one in one move, so
  // a failed or interrupted write leaves the previous value readable. Two writes of one key at
  // once each use their own temporary name.
  static std::atomic<unsigned> write_sequence{0};
  const std::wstring temporary = files->current + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(write_sequence.fetch_add(1)) + L".new";
  if (!WriteWholeFile(temporary, sealed.Bytes())) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  const bool replaced =
      hooks.replace_file ? hooks.replace_file(temporary, files->current)
                         : MoveFileExW(temporary.c_str(), files->current.c_str(),
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!replaced) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  // A value stored under the older, shared name is this key's only when it decrypts with this
  // key's entropy; then it is superseded and goes. Another key's file stays untouched.
  if (files->older != files->current && Decrypt(files->older, key)) {
    DeleteFileW(files->older.c_str());
  }
  return true;
}

namespace {

std::string ReadSecureValue(const std::string& key) {
  if (key.empty()) {
    return std::string();
  }
  const std::optional<KeyFiles> files = FilesOfKey(key);
  if (!files) {
    return std::string();
  }
  if (std::optional<std::string> value = Decrypt(files->current, key)) {
    return std::move(*value);
  }
  if (GetFileAttributesW(files->current.c_str()) != INVALID_FILE_ATTRIBUTES) {
    // The key's own file exists but does not decrypt: an older value must not show through.
    return std::string();
  }
  return Decrypt(files->older, key).value_or(std::string());
}

bool DeleteSecureValue(const std::string& key) {
  if (key.empty()) {
    return true;
  }
  const std::optional<KeyFiles> files = FilesOfKey(key);
  if (!files) {
    return true;
  }
  bool gone = DeleteIfPresent(files->current);
  if (files->older != files->current && Decrypt(files->older, key)) {
    gone = DeleteIfPresent(files->older) && gone;
  }
  return gone;
}

}  // namespace

WorkerReply SecureWriteOperation(const std::string& key, const std::string& value) {
  return flutter::EncodableValue(WriteSecureValue(key, value));
}

WorkerReply SecureReadOperation(const std::string& key) {
  std::string value = ReadSecureValue(key);
  if (value.empty()) {
    return flutter::EncodableValue(false);
  }
  return flutter::EncodableValue(std::move(value));
}

WorkerReply SecureDeleteOperation(const std::string& key) {
  return flutter::EncodableValue(DeleteSecureValue(key));
}

}  // namespace pel_mora
