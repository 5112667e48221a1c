#pragma once

// Follows the events of one drive scan and keeps what a person wants at the end: the totals
// and the largest folders and files. Only a bounded number of entries is ever held, so a scan of
// millions of entries costs the client little memory.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

struct ScanEntry {
  std::string path;
  int64_t size_bytes = 0;
};

enum class ScanState {
  kWaiting,    // no "started" event yet
  kRunning,
  kCompleted,
  kCancelled,
};

enum class ScanEventType { kStarted, kBatch, kCompleted, kCancelled, kOther };

struct ScanCounts {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
};

class ScanSummary {
 public:
  static constexpr size_t kDefaultTopCount = 20;

  explicit ScanSummary(size_t top_count = kDefaultTopCount) : top_count_(top_count) {}

  // Takes one scan event (the map inside a success envelope) and returns its type. Events that
  // are not maps, lack a known "type", or arrive outside the running state change nothing.
  ScanEventType Add(const flutter::EncodableValue& event);

  ScanState state() const { return state_; }
  const std::string& root() const { return root_; }

  // The host's counters as its last batch reported them: the live progress.
  const ScanCounts& reported_counts() const { return reported_counts_; }
  uint64_t entries_received() const { return entries_received_; }

  // The totals: those of the "completed" event once it arrived; otherwise (a cancelled or
  // unfinished scan) what the received entries add up to.
  ScanCounts totals() const;
  std::optional<int64_t> duration_ms() const { return duration_ms_; }

  // Folders whose listing failed (each reported by an inaccessible-folder entry).
  uint64_t unreadable_folders() const { return unreadable_folders_; }

  // True when the listing of the root itself failed: the drive does not exist or is not ready.
  bool root_unreadable() const { return root_unreadable_; }

  // Largest first; equal sizes by path, so the order does not depend on arrival.
  std::vector<ScanEntry> LargestFolders() const { return Sorted(largest_folders_); }
  std::vector<ScanEntry> LargestFiles() const { return Sorted(largest_files_); }

 private:
  void AddEntry(const flutter::EncodableMap& entry);
  void Offer(std::vector<ScanEntry>* heap, ScanEntry entry) const;
  static std::vector<ScanEntry> Sorted(std::vector<ScanEntry> entries);

  size_t top_count_;
  ScanState state_ = ScanState::kWaiting;
  std::string root_;
  ScanCounts reported_counts_;
  ScanCounts entry_counts_;
  std::optional<ScanCounts> completed_counts_;
  std::optional<int64_t> duration_ms_;
  uint64_t entries_received_ = 0;
  uint64_t unreadable_folders_ = 0;
  bool root_unreadable_ = false;
  // Min-heaps by ScanEntry order: the front is the entry that leaves first.
  std::vector<ScanEntry> largest_folders_;
  std::vector<ScanEntry> largest_files_;
};

}  // namespace pel_mora::cli
