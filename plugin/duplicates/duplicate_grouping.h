#pragma once

// The duplicate finder's narrowing rules, free of Win32: files of equal size, then equal digests
// of their first 4096 bytes, then equal digests of their whole content. Names of one file (hard
// links, and under Wine symbolic links to files) count as that one file: it is read once and is
// never its own duplicate. How a file is read and hashed is behind FileDigester, so the rules run
// natively with a fake digest in the tests and with the system's SHA-256 provider in the product.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

// File attributes of a file whose content is not on the disk: a cloud placeholder, or a file
// moved to slower storage. Reading it, or for some merely opening it, brings the content back.
inline constexpr uint32_t kFileAttributeOffline = 0x00001000;
inline constexpr uint32_t kFileAttributeRecallOnOpen = 0x00040000;
inline constexpr uint32_t kFileAttributeRecallOnDataAccess = 0x00400000;

// True for a file the finder must never open: its content is elsewhere (see above), and opening
// it to compare would download or recall it.
bool IsContentAwayFromDisk(uint32_t attributes);

using Sha256Digest = std::array<uint8_t, 32>;

// What tells one file from another whatever the name it is reached by: its id on its volume
// (the 64-bit file index, zero-extended, or the 128-bit id where the index cannot hold it). The
// volume is not part of it: the walk never passes a link, junction or mount point, so every file
// it finds lies on the root's volume. (The volume serial number would add nothing there, and Wine
// reports it differently from one call to the next while drive letters come and go. Under Wine a
// Unix link to a file shows as the file itself and may lead to another Unix file system, whose
// ids Wine does not tell apart from this one's either.)
struct FileIdentity {
  std::array<uint8_t, 16> file_id{};

  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// What one hashing pass over a name gave: the identity of the file behind it, read from the
// handle opened to hash it (empty when the name could not be opened or the system would not
// tell), whether a digest was produced at all (the file opened, the first read returned bytes,
// the provider worked) and how many bytes it covers.
struct DigestOutcome {
  bool has_digest = false;
  uint64_t bytes_hashed = 0;
  Sha256Digest digest{};
  std::optional<FileIdentity> identity;
};

// Asked by the first stage once it knows the file behind a name: true when this name is the one
// to read the file, false when another name of the same file reads it.
using IsNameToRead = std::function<bool(const FileIdentity&)>;

// Reads and hashes files for one hashing thread. Each call opens the file once.
class FileDigester {
 public:
  virtual ~FileDigester() = default;
  // Opens `path`, learns the identity of the file from the open handle and, only when
  // `is_name_to_read` says so, digests at most the first `byte_count` bytes from a single read.
  // A name whose identity cannot be learned is neither asked about nor read.
  virtual DigestOutcome DigestPrefix(const std::wstring& path,
                                     uint64_t byte_count,
                                     const IsNameToRead& is_name_to_read) = 0;
  // The identity and the digest of the whole file, read to its end.
  virtual DigestOutcome DigestContent(const std::wstring& path) = 0;
};

// Makes the digester of one hashing thread; called once on each thread that hashes.
using FileDigesterFactory = std::function<std::unique_ptr<FileDigester>()>;

// One set of distinct files with identical content. `members` are indices into the entry list,
// one per file (the first of its names the walk found), in the order the walk found them.
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
// 512 bytes are never candidates. Only sizes shared by two or more entries are opened at all.
// Names that lead to one file (equal identity, read from the handle opened for the first stage)
// count as that file: it is read by one of them only, the first name in walk order stands for
// it, and the others are left out of every group. A name whose identity cannot be learned takes
// no part, since it might be another name of a file in the group. Only prefix digests shared by
// two or more distinct files lead to whole-file reads, and a whole-file read counts only when it
// opened the same file as the first stage; a file of at most 4096 bytes is read once, its prefix
// digest being its content digest. A group holds at least two distinct files. The hashing of
// each stage is spread over `thread_count` threads (the calling thread is one of them). Groups
// come out by ascending size, then ascending prefix digest, then ascending content digest. An
// exception thrown by a digester or its factory on any thread is rethrown here once every
// thread has stopped.
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
