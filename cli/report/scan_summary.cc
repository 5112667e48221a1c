#include "cli/report/scan_summary.h"

#include <algorithm>
#include <variant>

#include "cli/common/event_fields.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The order of the top lists: larger first, then by path.
bool Precedes(const ScanEntry& left, const ScanEntry& right) {
  if (left.size_bytes != right.size_bytes) {
    return left.size_bytes > right.size_bytes;
  }
  return left.path < right.path;
}

}  // namespace

ScanEventType ScanSummary::Add(const EncodableValue& event) {
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
    root_ = StringOr(*map, "root", "");
    return ScanEventType::kStarted;
  }
  if (state_ != ScanState::kRunning) {
    return ScanEventType::kOther;
  }
  if (type == "batch") {
    reported_counts_.files = CountOr0(*map, "filesScanned");
    reported_counts_.folders = CountOr0(*map, "foldersScanned");
    reported_counts_.bytes = CountOr0(*map, "totalBytes");
    ForEachBatchEntry(*map, [this](const EncodableMap& entry) { AddEntry(entry); });
    return ScanEventType::kBatch;
  }
  if (type == "completed") {
    state_ = ScanState::kCompleted;
    completed_counts_ = ScanCounts{CountOr0(*map, "totalFiles"), CountOr0(*map, "totalFolders"),
                                   CountOr0(*map, "totalBytes")};
    duration_ms_ = IntegerOr(*map, "durationMs", 0);
    return ScanEventType::kCompleted;
  }
  if (type == "cancelled") {
    state_ = ScanState::kCancelled;
    return ScanEventType::kCancelled;
  }
  return ScanEventType::kOther;
}

void ScanSummary::AddEntry(const EncodableMap& entry) {
  ++entries_received_;
  ScanEntry item{StringOr(entry, "path", ""), IntegerOr(entry, "sizeBytes", 0)};
  if (!BoolOr(entry, "isAccessible", true)) {
    // Not a folder of the tree: the parent, if any, lists the folder again with its own entry.
    ++unreadable_folders_;
    if (item.path == root_) {
      root_unreadable_ = true;
    }
    return;
  }
  if (BoolOr(entry, "isDirectory", false)) {
    ++entry_counts_.folders;
    Offer(&largest_folders_, std::move(item));
  } else {
    ++entry_counts_.files;
    entry_counts_.bytes += item.size_bytes > 0 ? static_cast<uint64_t>(item.size_bytes) : 0;
    Offer(&largest_files_, std::move(item));
  }
}

void ScanSummary::Offer(std::vector<ScanEntry>* heap, ScanEntry entry) const {
  if (top_count_ == 0) {
    return;
  }
  // With Precedes as the heap order, the front is the entry every other one precedes: the one
  // to drop when the list is full.
  if (heap->size() < top_count_) {
    heap->push_back(std::move(entry));
    std::push_heap(heap->begin(), heap->end(), Precedes);
    return;
  }
  if (!Precedes(entry, heap->front())) {
    return;
  }
  std::pop_heap(heap->begin(), heap->end(), Precedes);
  heap->back() = std::move(entry);
  std::push_heap(heap->begin(), heap->end(), Precedes);
}

std::vector<ScanEntry> ScanSummary::Sorted(std::vector<ScanEntry> entries) {
  std::sort(entries.begin(), entries.end(), Precedes);
  return entries;
}

ScanCounts ScanSummary::totals() const {
  return completed_counts_ ? *completed_counts_ : entry_counts_;
}

}  // namespace pel_mora::cli
