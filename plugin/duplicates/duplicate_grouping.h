#pragma once

// The duplicate finder's narrowing rules, free of Win32: files of equal size, then equal digests
// of their first 4096 bytes, then equal digests of their whole content. How a file is read and
// hashed is behind FileDigester, so the rules run natively with a fake digest in the tests and
// with the system's SHA-256 provider in the product.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pel_mora {

// Files smaller than this are never candidates (empty files included).
inline constexpr uint64_t kMinimumCandidateSize = 512;
// The first stage hashes at most this many bytes of each file.
inline constexpr uint64_t kPrefixByteCount = 4096;

// One candidate file as the walk found it.
struct FileEntry {
  std::wstring path;
  // Bytes, from the directory entry.
  uint64_t size = 0;
  // Last-write time in seconds since 1970-01-01 UTC.
  int64_t modified = 0;
};

using Sha256Digest = std::array<uint8_t, 32>;

// What one hashing pass over a file gave: whether a digest was produced at all (the file opened,
// the first read returned bytes, the provider worked) and how many bytes it covers.
struct DigestOutcome {
  bool has_digest = false;
  uint64_t bytes_hashed = 0;
  Sha256Digest digest{};
};

// Reads and hashes files for one hashing thread. Each call opens the file once.
class FileDigester {
 public:
  virtual ~FileDigester() = default;
  // The digest of at most the first `byte_count` bytes, from a single read.
  virtual DigestOutcome DigestPrefix(const std::wstring& path, uint64_t byte_count) = 0;
  // The digest of the whole file, read to its end.
  virtual DigestOutcome DigestContent(const std::wstring& path) = 0;
};

// Makes the digester of one hashing thread; called once on each thread that hashes.
using FileDigesterFactory = std::function<std::unique_ptr<FileDigester>()>;

// One set of files with identical content. `members` are indices into the entry list, in the
// order the walk found the files.
struct DuplicateGroup {
  Sha256Digest content_digest{};
  uint64_t file_size = 0;
  std::vector<size_t> members;
};

// A prefix digest counts only when it covers exactly min(size, 4096) bytes, and a content digest
// only when it covers exactly the size the walk saw: a read that failed or came short, or a file
// that changed size since the walk, would otherwise make different files look alike.
bool PrefixDigestCoversFile(const DigestOutcome& outcome, uint64_t size);
bool ContentDigestCoversFile(const DigestOutcome& outcome, uint64_t size);

// Finds the groups of identical files among `entries` (in walk order); entries of fewer than
// 512 bytes are never candidates. Only sizes shared by two
// or more files are hashed at all, and only prefix digests shared by two or more files lead to
// whole-file reads; a file of at most 4096 bytes is read once, its prefix digest being its
// content digest. The hashing of each stage is spread over `thread_count` threads (the calling
// thread is one of them). Groups come out by ascending size, then ascending prefix digest, then
// ascending content digest. An exception thrown by a digester or its factory on any thread is
// rethrown here once every thread has stopped.
std::vector<DuplicateGroup> GroupDuplicates(const std::vector<FileEntry>& entries,
                                            const FileDigesterFactory& make_digester,
                                            unsigned thread_count);

// The number of hashing threads for this machine: one per hardware thread, at least one.
unsigned HashingThreadCount();

// Names the walk skips wherever they appear below the root, folders and files alike:
// "$RECYCLE.BIN" and "System Volume Information", compared folding only the letters A to Z.
bool IsSkippedEntryName(std::wstring_view name);

// Lower-case hexadecimal text of a digest, two digits per byte.
std::string DigestToHex(const Sha256Digest& digest);

}  // namespace pel_mora
