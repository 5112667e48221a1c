#include "plugin/duplicates/sha256_file_digester.h"

#include <windows.h>
#include <bcrypt.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "plugin/duplicates/cng_handles.h"
#include "plugin/file_handle.h"

namespace pel_mora {
namespace {

// Whole files are read in blocks of this size: large enough that a file of a megabyte takes a
// few calls, small enough to stay in the processor's cache while it is hashed.
constexpr DWORD kReadBlockBytes = 256 * 1024;

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

// The file information classes asked for below, by their values: the SDK's winternl.h names
// only the first class of the list.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

std::optional<FileIdentity> IdentityFromIdInfo(HANDLE file) {
  // Zeroed first: a file system may fill fewer bytes of the id than the structure holds.
  FILE_ID_INFO id_info{};
  if (!GetFileInformationByHandleEx(file, FileIdInfo, &id_info, sizeof(id_info))) {
    return std::nullopt;
  }
  FileIdentity identity;
  static_assert(sizeof(id_info.FileId.Identifier) == sizeof(identity.file_id));
  std::memcpy(identity.file_id.data(), id_info.FileId.Identifier, identity.file_id.size());
  return identity;
}

// The identity of the file behind an open handle on the walk's volume. The 64-bit file index
// comes first: it is what NTFS and FAT identify a file by, and it is cheap to ask for, where the
// documented calls that give it (GetFileInformationByHandle, and the 128-bit FileIdInfo) also
// look up the volume, which under Wine costs a thousand times more than the read of a small
// file. A file system whose ids are wider (ReFS) answers all ones when the id does not fit; then
// the 128-bit id is asked for. The index goes into the low bytes, where the 128-bit id holds it,
// so both give one file the same identity. An id of zero or all ones means the file system has
// none to give (some network redirectors answer so for every file), which would make every file
// look like every other: that, like a failing call, counts as unknown.
std::optional<FileIdentity> ReadFileIdentity(HANDLE file) {
  std::optional<FileIdentity> identity;
  IO_STATUS_BLOCK status_block{};
  uint64_t index = 0;
  if (NtQueryInformationFile(file, &status_block, &index, sizeof(index), kFileInternalInformation) >= 0 &&
      status_block.Information == sizeof(index) && index != UINT64_MAX) {
    identity.emplace();
    for (size_t byte = 0; byte < sizeof(index); ++byte) {
      identity->file_id[byte] = static_cast<uint8_t>(index >> (8 * byte));
    }
  } else {
    identity = IdentityFromIdInfo(file);
  }
  if (!identity) {
    return std::nullopt;
  }
  const auto& id = identity->file_id;
  const bool all_zero = std::all_of(id.begin(), id.end(), [](uint8_t byte) { return byte == 0x00; });
  const bool all_ones = std::all_of(id.begin(), id.end(), [](uint8_t byte) { return byte == 0xff; });
  if (all_zero || all_ones) {
    return std::nullopt;
  }
  return identity;
}

class Sha256FileDigester final : public FileDigester {
 public:
  explicit Sha256FileDigester(FileReadObserver* observer) : observer_(observer), buffer_(kReadBlockBytes) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    // One provider serves every file this thread hashes; opening it is the costly part of CNG.
    if (Succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      provider_ = AlgorithmProvider(handle);
    }
  }

  DigestOutcome DigestPrefix(const std::wstring& path,
                             uint64_t byte_count,
                             const IsNameToRead& is_name_to_read) override {
    DigestOutcome outcome;
    HashObject hash = CreateHash();
    if (!hash.IsValid()) {
      return outcome;
    }
    const FileHandle file(Open(path));
    if (!file.IsValid()) {
      return outcome;
    }
    // The identity comes from this very handle, so it names the file whose bytes are read here.
    outcome.identity = ReadFileIdentity(file.Get());
    if (!outcome.identity || !is_name_to_read(*outcome.identity)) {
      return outcome;
    }
    // A single read: a file no longer than the prefix is read whole by it.
    const DWORD requested = static_cast<DWORD>(std::min<uint64_t>(byte_count, buffer_.size()));
    DWORD bytes_read = 0;
    if (!Read(file, path, 0, requested, bytes_read) || bytes_read == 0) {
      return outcome;
    }
    if (!Succeeded(BCryptHashData(hash.Get(), buffer_.data(), bytes_read, 0))) {
      return outcome;
    }
    return Finish(hash, bytes_read, outcome.identity);
  }

  DigestOutcome DigestContent(const std::wstring& path) override {
    DigestOutcome outcome;
    HashObject hash = CreateHash();
    if (!hash.IsValid()) {
      return outcome;
    }
    const FileHandle file(Open(path));
    if (!file.IsValid()) {
      return outcome;
    }
    outcome.identity = ReadFileIdentity(file.Get());
    if (!outcome.identity) {
      return outcome;
    }
    uint64_t total = 0;
    DWORD bytes_read = 0;
    // Reads until the end or the first failure; the caller compares the bytes covered with the
    // size it expects, so a read that failed midway cannot pass for the whole file.
    while (Read(file, path, total, kReadBlockBytes, bytes_read) && bytes_read > 0) {
      if (!Succeeded(BCryptHashData(hash.Get(), buffer_.data(), bytes_read, 0))) {
        return outcome;
      }
      total += bytes_read;
    }
    return Finish(hash, total, outcome.identity);
  }

 private:
  HashObject CreateHash() const {
    if (!provider_.IsValid()) {
      return HashObject();
    }
    BCRYPT_HASH_HANDLE handle = nullptr;
    // No object buffer: the provider allocates the hash state itself.
    if (!Succeeded(BCryptCreateHash(provider_.Get(), &handle, nullptr, 0, nullptr, 0, 0))) {
      return HashObject();
    }
    return HashObject(handle);
  }

  // The handle goes straight into a FileHandle at the caller.
  HANDLE Open(const std::wstring& path) const {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE && observer_ != nullptr) {
      observer_->FileOpened(path);
    }
    return file;
  }

  bool Read(const FileHandle& file, const std::wstring& path, uint64_t offset, DWORD requested, DWORD& bytes_read) {
    bytes_read = 0;
    bool succeeded = ReadFile(file.Get(), buffer_.data(), requested, &bytes_read, nullptr) != FALSE;
    if (observer_ != nullptr) {
      uint32_t observed_bytes = bytes_read;
      observer_->ReadFinished(path, offset, requested, observed_bytes, succeeded);
      bytes_read = static_cast<DWORD>(std::min<uint32_t>(observed_bytes, bytes_read));
    }
    return succeeded;
  }

  static DigestOutcome Finish(const HashObject& hash,
                              uint64_t bytes_hashed,
                              const std::optional<FileIdentity>& identity) {
    DigestOutcome outcome;
    outcome.identity = identity;
    if (Succeeded(BCryptFinishHash(hash.Get(), outcome.digest.data(), static_cast<ULONG>(outcome.digest.size()), 0))) {
      outcome.has_digest = true;
      outcome.bytes_hashed = bytes_hashed;
    }
    return outcome;
  }

  FileReadObserver* observer_;
  AlgorithmProvider provider_;
  std::vector<UCHAR> buffer_;
};

}  // namespace

std::unique_ptr<FileDigester> MakeSha256FileDigester(FileReadObserver* observer) {
  return std::make_unique<Sha256FileDigester>(observer);
}

}  // namespace pel_mora
