#pragma once

// The duplicate-file finder behind "startDuplicateScan": walks a folder tree, narrows the files
// by size, by the digest of their first 4096 bytes and by the digest of their whole content, and
// answers the groups of identical files.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "plugin/duplicates/duplicate_grouping.h"
#include "plugin/duplicates/sha256_file_digester.h"

namespace pel_mora {

// Sees the attributes of every entry the walk lists, by full path, and may change them before
// the walk judges the entry. The tests mark files as cloud placeholders through it, which Wine
// cannot; empty in the product.
using ListedAttributesHook = std::function<void(const std::wstring& path, uint32_t& attributes)>;

struct DuplicateScanOptions {
  // Sees the hashing threads' opens and reads; null in the product.
  FileReadObserver* read_observer = nullptr;
  unsigned thread_count = HashingThreadCount();
  ListedAttributesHook listed_attributes;
};

// Appends to `entries`, depth first in the order the file system lists them, every file of at
// least 512 bytes below `folder`, down to 32 levels below the folder given with depth 0. Links,
// junctions and mount points are neither followed nor collected; "$RECYCLE.BIN" and "System
// Volume Information" (any letter case, folders and files) are skipped below the root; hidden
// and system files are collected. Files whose content is not on the disk (cloud placeholders,
// offline files) are not collected, so nothing ever opens them. A folder that cannot be listed
// is left out silently.
void CollectFiles(const std::wstring& folder,
                  int depth,
                  std::vector<FileEntry>& entries,
                  const ListedAttributesHook& listed_attributes = {});

// The reply of "startDuplicateScan" for `root`: a list of group maps ("hash", "fileSize",
// "wastedBytes", "count", "paths", "dates"), by ascending size, then prefix digest, then content
// digest. A group holds distinct files only: of the names of one file (hard links, links to
// files) only the first the walk found is listed and counted. A root that cannot be listed
// gives an empty list.
flutter::EncodableList FindDuplicates(const std::wstring& root, const DuplicateScanOptions& options = {});

}  // namespace pel_mora
