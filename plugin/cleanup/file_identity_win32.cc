#include "plugin/cleanup/file_identity_win32.h"

#include <cstring>

#include "plugin/file_handle.h"
#include "plugin/wine_detection_win32.h"

namespace pel_mora {

HANDLE OpenForIdentity(const std::wstring& path, LinkHandling link_handling) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (link_handling == LinkHandling::kOpenLinkItself) {
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  }
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

namespace {

// Wine numbers a volume after the drive letter it last associated with it, and that changes as
// letters come and go (or reads 0 when the query fails), so the same folder can show two serial
// numbers a moment apart. There the file ids (the Unix inode numbers) are compared alone.
bool VolumeSerialIsStable() {
  return !IsRunningUnderWine();
}

}  // namespace

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  FileIdentity identity;
  FILE_ID_INFO id_information{};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id_information, sizeof(id_information))) {
    identity.volume = id_information.VolumeSerialNumber;
    static_assert(sizeof(id_information.FileId.Identifier) == 2 * sizeof(uint64_t));
    std::memcpy(&identity.id_low, id_information.FileId.Identifier, sizeof(uint64_t));
    std::memcpy(&identity.id_high, id_information.FileId.Identifier + sizeof(uint64_t), sizeof(uint64_t));
  } else {
    // Older systems and some file systems know only the 64-bit index, which is the low half of
    // the 128-bit id where both exist.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
      return std::nullopt;
    }
    identity.volume = information.dwVolumeSerialNumber;
    identity.id_low = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  }
  if (!VolumeSerialIsStable()) {
    identity.volume = 0;
  }
  return identity;
}

std::optional<std::wstring> FinalPathOfHandle(HANDLE handle) {
  // A volume mounted in a folder has no drive letter to name it by; its GUID name serves.
  for (const DWORD volume_name : {static_cast<DWORD>(VOLUME_NAME_DOS), static_cast<DWORD>(VOLUME_NAME_GUID)}) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
      const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | volume_name);
      if (length == 0) {
        break;
      }
      if (length < buffer.size()) {
        buffer.resize(length);
        return buffer;
      }
      // Too short: `length` is the size needed, terminator included.
      buffer.assign(length, L'\0');
    }
  }
  return std::nullopt;
}

std::optional<FileIdentity> IdentityOfPath(const std::wstring& path, LinkHandling link_handling) {
  const FileHandle handle(OpenForIdentity(path, link_handling));
  if (!handle.IsValid()) {
    return std::nullopt;
  }
  return IdentityOfHandle(handle.Get());
}

std::optional<IdentityChain> IdentityChainOfHandle(HANDLE handle) {
  const std::optional<FileIdentity> object = IdentityOfHandle(handle);
  const std::optional<std::wstring> final_path = FinalPathOfHandle(handle);
  if (!object || !final_path || !RootOfFinalPath(*final_path)) {
    return std::nullopt;
  }
  IdentityChain chain = {*object};
  // The folders of a final path are real folders, not links, so opening them reaches exactly
  // them.
  for (std::optional<std::wstring> folder = ParentOfFinalPath(*final_path); folder;
       folder = ParentOfFinalPath(*folder)) {
    const std::optional<FileIdentity> identity = IdentityOfPath(*folder, LinkHandling::kFollow);
    if (!identity) {
      return std::nullopt;
    }
    chain.push_back(*identity);
  }
  return chain;
}

std::optional<NamedIdentityChain> NamedIdentityChainOfHandle(HANDLE handle) {
  const std::optional<FileIdentity> object = IdentityOfHandle(handle);
  const std::optional<std::wstring> final_path = FinalPathOfHandle(handle);
  if (!object || !final_path || !RootOfFinalPath(*final_path)) {
    return std::nullopt;
  }
  NamedIdentityChain chain;
  chain.identities.push_back(*object);
  chain.names.emplace_back(ParentOfFinalPath(*final_path) ? LastNameOfPath(*final_path) : std::wstring_view());
  for (std::optional<std::wstring> folder = ParentOfFinalPath(*final_path); folder;
       folder = ParentOfFinalPath(*folder)) {
    const std::optional<FileIdentity> identity = IdentityOfPath(*folder, LinkHandling::kFollow);
    if (!identity) {
      return std::nullopt;
    }
    chain.identities.push_back(*identity);
    // A root's final path ends with its separator, so its last name is empty.
    chain.names.emplace_back(LastNameOfPath(*folder));
  }
  return chain;
}

std::optional<NamedIdentityChain> NamedIdentityChainOfPath(const std::wstring& path, LinkHandling link_handling) {
  const FileHandle handle(OpenForIdentity(path, link_handling));
  if (!handle.IsValid()) {
    return std::nullopt;
  }
  return NamedIdentityChainOfHandle(handle.Get());
}

std::optional<IdentityChain> IdentityChainOfPath(const std::wstring& path, LinkHandling link_handling) {
  const FileHandle handle(OpenForIdentity(path, link_handling));
  if (!handle.IsValid()) {
    return std::nullopt;
  }
  return IdentityChainOfHandle(handle.Get());
}

}  // namespace pel_mora
