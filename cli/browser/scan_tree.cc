#include "cli/browser/scan_tree.h"

#include <algorithm>
#include <cstdint>
#include <variant>

#include "cli/common/event_fields.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The host walks 64 levels below the root; anything deeper is malformed input, and the tree is
// freed by recursion, so its depth stays bounded.

char FoldCase(char character) {
  return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

// Names compared as the host compares them: only A to Z fold.
int CompareNames(const std::string& left, const std::string& right) {
  const size_t length = std::min(left.size(), right.size());
  for (size_t index = 0; index < length; ++index) {
    const char a = FoldCase(left[index]);
    const char b = FoldCase(right[index]);
    if (a != b) {
      return static_cast<unsigned char>(a) < static_cast<unsigned char>(b) ? -1 : 1;
    }
  }
  if (left.size() != right.size()) {
    return left.size() < right.size() ? -1 : 1;
  }
  return left.compare(right);
}

bool NameBefore(const BrowserNode* left, const BrowserNode* right) { return CompareNames(left->name, right->name) < 0; }

}  // namespace

SortOrder NextSortOrder(SortOrder order) {
  switch (order) {
    case SortOrder::kSize: return SortOrder::kName;
    case SortOrder::kName: return SortOrder::kCount;
    case SortOrder::kCount: return SortOrder::kDate;
    case SortOrder::kDate: return SortOrder::kSize;
  }
  return SortOrder::kSize;
}

const char* SortOrderName(SortOrder order) {
  switch (order) {
    case SortOrder::kSize: return "size";
    case SortOrder::kName: return "name";
    case SortOrder::kCount: return "count";
    case SortOrder::kDate: return "date";
  }
  return "size";
}

ScanTree::ScanTree() = default;
ScanTree::~ScanTree() = default;

ScanEventType ScanTree::Add(const EncodableValue& event) {
  const auto* map = std::get_if<EncodableMap>(&event);
  if (map == nullptr) {
    return ScanEventType::kOther;
  }
  const std::string type = StringOr(*map, "type", "");
  if (type == "started") {
    if (state_ != ScanState::kWaiting) {
      return ScanEventType::kOther;
    }
    state_ = ScanState::kRunning;
    root_path_ = StringOr(*map, "root", "");
    root_ = std::make_unique<BrowserNode>();
    root_->name = root_path_;
    root_->path = root_path_;
    root_->is_directory = true;
    folders_.emplace(root_path_, root_.get());
    return ScanEventType::kStarted;
  }
  if (state_ != ScanState::kRunning) {
    return ScanEventType::kOther;
  }
  if (type == "batch") {
    ForEachBatchEntry(*map, [this](const EncodableMap& entry) { AddEntry(entry); });
    return ScanEventType::kBatch;
  }
  if (type == "completed") {
    state_ = ScanState::kCompleted;
    duration_ms_ = IntegerOr(*map, "durationMs", 0);
    return ScanEventType::kCompleted;
  }
  if (type == "cancelled") {
    state_ = ScanState::kCancelled;
    return ScanEventType::kCancelled;
  }
  return ScanEventType::kOther;
}

BrowserNode* ScanTree::FolderNode(const std::string& path) {
  const auto found = folders_.find(path);
  if (found != folders_.end()) {
    return found->second;
  }
  // Only paths below the root have a place in the tree.
  const std::optional<std::string> parent_path = ParentInScan(path, root_path_);
  if (!parent_path) {
    return nullptr;
  }
  BrowserNode* parent = FolderNode(*parent_path);
  if (parent == nullptr) {
    return nullptr;
  }
  auto node = std::make_unique<BrowserNode>();
  node->name = path.substr(path.rfind('\\') + 1);
  node->path = path;
  node->is_directory = true;
  node->parent = parent;
  BrowserNode* raw = node.get();
  parent->children.push_back(std::move(node));
  folders_.emplace(path, raw);
  ++totals_.folders;
  AddToAncestors(parent, 0, 1);
  return raw;
}

void ScanTree::AddToAncestors(BrowserNode* folder, int64_t bytes, int64_t items) {
  for (BrowserNode* node = folder; node != nullptr; node = node->parent) {
    node->bytes = static_cast<uint64_t>(static_cast<int64_t>(node->bytes) + bytes);
    node->items = static_cast<uint64_t>(static_cast<int64_t>(node->items) + items);
  }
}

void ScanTree::AddEntry(const EncodableMap& entry) {
  const std::string path = StringOr(entry, "path", "");
  const bool is_directory = BoolOr(entry, "isDirectory", false);
  if (!BoolOr(entry, "isAccessible", true)) {
    // The parent lists the folder again with an entry of its own; this one only says that its
    // contents are unknown.
    if (BrowserNode* folder = path == root_path_ ? root_.get() : FolderNode(path)) {
      folder->readable = false;
    }
    return;
  }
  if (is_directory) {
    // Its size is the sum of the files below it, which the tree has counted already.
    if (BrowserNode* folder = FolderNode(path)) {
      folder->modified_time = IntegerOr(entry, "modifiedTime", 0);
    }
    return;
  }
  const size_t separator = path.rfind('\\');
  if (separator == std::string::npos || separator + 1 == path.size() || path.size() <= root_path_.size() ||
      path.compare(0, root_path_.size(), root_path_) != 0) {
    return;
  }
  const std::string folder_path = separator + 1 == root_path_.size() ? root_path_ : path.substr(0, separator);
  BrowserNode* folder = FolderNode(folder_path);
  if (folder == nullptr) {
    return;
  }
  const int64_t size = std::max<int64_t>(0, IntegerOr(entry, "sizeBytes", 0));
  auto node = std::make_unique<BrowserNode>();
  node->name = path.substr(separator + 1);
  node->path = path;
  node->bytes = static_cast<uint64_t>(size);
  node->modified_time = IntegerOr(entry, "modifiedTime", 0);
  node->parent = folder;
  folder->children.push_back(std::move(node));
  ++totals_.files;
  totals_.bytes += static_cast<uint64_t>(size);
  AddToAncestors(folder, size, 1);
}

BrowserNode* ScanTree::MutableFind(const std::string& path) const {
  const auto found = folders_.find(path);
  if (found != folders_.end()) {
    return found->second;
  }
  const size_t separator = path.rfind('\\');
  if (separator == std::string::npos || root_ == nullptr) {
    return nullptr;
  }
  const std::string folder_path = separator + 1 == root_path_.size() ? root_path_ : path.substr(0, separator);
  const auto folder = folders_.find(folder_path);
  if (folder == folders_.end()) {
    return nullptr;
  }
  for (const auto& child : folder->second->children) {
    if (child->path == path) {
      return child.get();
    }
  }
  return nullptr;
}

const BrowserNode* ScanTree::Find(const std::string& path) const { return MutableFind(path); }

std::vector<const BrowserNode*> ScanTree::SortedChildren(const BrowserNode& folder, SortOrder order) const {
  std::vector<const BrowserNode*> items;
  items.reserve(folder.children.size());
  for (const auto& child : folder.children) {
    items.push_back(child.get());
  }
  std::sort(items.begin(), items.end(), [order](const BrowserNode* left, const BrowserNode* right) {
    switch (order) {
      case SortOrder::kSize:
        if (left->bytes != right->bytes) {
          return left->bytes > right->bytes;
        }
        break;
      case SortOrder::kCount:
        if (left->items != right->items) {
          return left->items > right->items;
        }
        break;
      case SortOrder::kDate: {
        const int64_t left_time = left->modified_time.value_or(INT64_MIN);
        const int64_t right_time = right->modified_time.value_or(INT64_MIN);
        if (left_time != right_time) {
          return left_time > right_time;
        }
        break;
      }
      case SortOrder::kName:
        break;
    }
    return NameBefore(left, right);
  });
  return items;
}

std::vector<const BrowserNode*> ScanTree::LargestFiles(const BrowserNode& folder, size_t count) const {
  std::vector<const BrowserNode*> files;
  std::vector<const BrowserNode*> pending{&folder};
  while (!pending.empty()) {
    const BrowserNode* node = pending.back();
    pending.pop_back();
    for (const auto& child : node->children) {
      (child->is_directory ? pending : files).push_back(child.get());
    }
  }
  const auto larger = [](const BrowserNode* left, const BrowserNode* right) {
    return left->bytes != right->bytes ? left->bytes > right->bytes : left->path < right->path;
  };
  const size_t kept = std::min(count, files.size());
  std::partial_sort(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(kept), files.end(), larger);
  files.resize(kept);
  return files;
}

bool ScanTree::Remove(const std::string& path) {
  BrowserNode* node = MutableFind(path);
  if (node == nullptr || node->parent == nullptr) {
    return false;
  }
  // Every folder at or below the item leaves the index, so that later entries of the scan for
  // paths below it start afresh instead of landing in a freed folder.
  uint64_t folders = 0;
  uint64_t files = 0;
  std::vector<BrowserNode*> pending{node};
  while (!pending.empty()) {
    BrowserNode* current = pending.back();
    pending.pop_back();
    if (current->is_directory) {
      folders_.erase(current->path);
      ++folders;
    } else {
      ++files;
    }
    for (const auto& child : current->children) {
      pending.push_back(child.get());
    }
  }
  totals_.files -= std::min(totals_.files, files);
  totals_.folders -= std::min(totals_.folders, folders);
  totals_.bytes -= std::min(totals_.bytes, node->bytes);
  BrowserNode* parent = node->parent;
  AddToAncestors(parent, -static_cast<int64_t>(node->bytes), -static_cast<int64_t>(node->items + 1));
  auto& siblings = parent->children;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                              [node](const std::unique_ptr<BrowserNode>& child) { return child.get() == node; }));
  return true;
}

}  // namespace pel_mora::cli
