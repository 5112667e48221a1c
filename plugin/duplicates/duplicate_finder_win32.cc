#include "plugin/duplicates/duplicate_finder.h"

#include <windows.h>

#include <cstdint>
#include <utility>

#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// The root has depth 0; folders down to this depth are listed.
constexpr int kMaximumDepth = 32;

EncodableValue MakeGroup(const DuplicateGroup& group, const std::vector<FileEntry>& entries) {
  const auto count = static_cast<int64_t>(group.members.size());
  const auto file_size = static_cast<int64_t>(group.file_size);
  EncodableList paths;
  EncodableList dates;
  paths.reserve(group.members.size());
  dates.reserve(group.members.size());
  for (const size_t member : group.members) {
    paths.emplace_back(WideToUtf8(entries[member].path));
    dates.emplace_back(entries[member].modified);
  }
  return EncodableValue(EncodableMap{
      {EncodableValue("hash"), EncodableValue(DigestToHex(group.content_digest))},
      {EncodableValue("fileSize"), EncodableValue(file_size)},
      {EncodableValue("wastedBytes"), EncodableValue((count - 1) * file_size)},
      {EncodableValue("count"), EncodableValue(count)},
      {EncodableValue("paths"), EncodableValue(std::move(paths))},
      {EncodableValue("dates"), EncodableValue(std::move(dates))},
  });
}

}  // namespace

void CollectFiles(const std::wstring& folder,
                  int depth,
                  std::vector<FileEntry>& entries,
                  const ListedAttributesHook& listed_attributes) {
  if (folder.empty() || depth > kMaximumDepth) {
    return;
  }
  std::wstring prefix = folder;
  if (prefix.back() != L'\\' && prefix.back() != L'/') {
    prefix += L'\\';
  }
  WIN32_FIND_DATAW item;
  // The basic information level skips the short 8.3 names, and the large fetch asks for bigger
  // directory reads per call; neither changes what is listed.
  const FindHandle listing(FindFirstFileExW((prefix + L'*').c_str(), FindExInfoBasic, &item, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return;
  }
  do {
    if (IsDotOrDotDot(item.cFileName) || IsSkippedEntryName(item.cFileName)) {
      continue;
    }
    std::wstring full = prefix + item.cFileName;
    uint32_t attributes = item.dwFileAttributes;
    if (listed_attributes) {
      listed_attributes(full, attributes);
    }
    // Symbolic links, junctions and mount points, to files and folders alike, are not followed:
    // their content lives elsewhere, possibly inside this very tree.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // Depth first: the subfolder is walked before the next item of this folder is read.
      CollectFiles(full, depth + 1, entries, listed_attributes);
      continue;
    }
    // A placeholder's content is in the cloud or on slower storage: hashing it would fetch it.
    if (IsContentAwayFromDisk(attributes)) {
      continue;
    }
    const uint64_t size = FoundFileSize(item);
    if (size >= kMinimumCandidateSize) {
      entries.push_back(FileEntry{std::move(full), size, LastWriteUnixSeconds(item)});
    }
  } while (FindNextFileW(listing.Get(), &item));
}

EncodableList FindDuplicates(const std::wstring& root, const DuplicateScanOptions& options) {
  std::vector<FileEntry> entries;
  CollectFiles(root, 0, entries, options.listed_attributes);
  FileReadObserver* observer = options.read_observer;
  const std::vector<DuplicateGroup> groups =
      GroupDuplicates(entries, [observer] { return MakeSha256FileDigester(observer); }, options.thread_count);
  EncodableList reply;
  reply.reserve(groups.size());
  for (const DuplicateGroup& group : groups) {
    reply.push_back(MakeGroup(group, entries));
  }
  return reply;
}

}  // namespace pel_mora
