#pragma once

// The tree of one drive scan as the browser shows it, built from the scan's events while they
// arrive. A folder's own entry comes after everything inside it, so folders are created when
// their first item arrives and their sizes and item counts grow with every file below them:
// the totals are live while the scan runs. Recycling an item takes it and its share out of every
// folder above it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "channel/encodable_value.h"
#include "cli/report/scan_summary.h"

namespace pel_mora::cli {

struct BrowserNode {
  std::string name;
  std::string path;
  bool is_directory = false;
  // False for a folder the host could not list.
  bool readable = true;
  uint64_t bytes = 0;
  // Files and folders below a folder, at any depth; 0 for a file.
  uint64_t items = 0;
  std::optional<int64_t> modified_time;
  BrowserNode* parent = nullptr;
  std::vector<std::unique_ptr<BrowserNode>> children;
};

enum class SortOrder { kSize, kName, kCount, kDate };

// The next order in the cycle that the sort key walks through, and its name for a person.
SortOrder NextSortOrder(SortOrder order);
const char* SortOrderName(SortOrder order);

class ScanTree {
 public:
  ScanTree();
  ~ScanTree();
  ScanTree(const ScanTree&) = delete;
  ScanTree& operator=(const ScanTree&) = delete;

  // Takes one scan event (the map inside a success envelope). Only the first scan is taken:
  // events before its "started" and after its end change nothing.
  ScanEventType Add(const flutter::EncodableValue& event);

  ScanState state() const { return state_; }
  const std::string& root_path() const { return root_path_; }
  // Null before the "started" event.
  const BrowserNode* root() const { return root_.get(); }
  std::optional<int64_t> duration_ms() const { return duration_ms_; }

  // What the tree holds now: grows while the scan runs and shrinks with every recycle.
  const ScanCounts& totals() const { return totals_; }

  // The folder or file at `path`, or null.
  const BrowserNode* Find(const std::string& path) const;

  // A folder's items in `order`: size and count largest first, names A to Z (ignoring the
  // case of A to Z), dates newest first; ties by name, so the order does not depend on arrival.
  std::vector<const BrowserNode*> SortedChildren(const BrowserNode& folder, SortOrder order) const;

  // The `count` largest files at any depth below `folder`, largest first (ties by path).
  std::vector<const BrowserNode*> LargestFiles(const BrowserNode& folder, size_t count) const;

  // Takes the item at `path` (recycled) out of the tree and its bytes and items out of every
  // folder above it and of the totals. False when the tree has no such item or it is the root.
  bool Remove(const std::string& path);

 private:
  BrowserNode* FolderNode(const std::string& path);
  BrowserNode* MutableFind(const std::string& path) const;
  void AddEntry(const flutter::EncodableMap& entry);
  void AddToAncestors(BrowserNode* folder, int64_t bytes, int64_t items);

  ScanState state_ = ScanState::kWaiting;
  std::string root_path_;
  std::optional<int64_t> duration_ms_;
  ScanCounts totals_;
  std::unique_ptr<BrowserNode> root_;
  // Folders by full path, to attach items to their folder as they arrive.
  std::unordered_map<std::string, BrowserNode*> folders_;
};

}  // namespace pel_mora::cli
