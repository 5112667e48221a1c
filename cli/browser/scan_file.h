#pragma once

// The saved scan: one JSON object holding every entry of a scan exactly as the host sent it, in
// stream order, so that the report and the browser can be made later without scanning again:
//   {"format": "pelmora-scan", "version": 1, "root": "P:\\", "state": "completed"|"cancelled",
//    "startedAt": UNIX_SECONDS, "durationMs": N|null, "totalFiles": N, "totalFolders": N,
//    "totalBytes": N, "entries": [...], "folder": "/home/me/Photos"}
// "folder" (left out where the client could not tell) is the Linux folder the drive letter
// showed during the scan: a letter may be lent for one command, or remapped later, so the
// letter alone does not say which files the entries were.
// Loading gives the scan back as the events it came from, so every consumer of scan events
// reads a saved scan the way it reads a live one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

// A file that cannot be read as a saved scan; the message names the file and what is wrong.
class ScanFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Keeps the events of the first scan it sees, for saving once the scan has ended.
class ScanRecorder {
 public:
  // Takes one scan event; `now` is kept for the "started" event as the time of the scan.
  void Add(const flutter::EncodableValue& event, std::chrono::system_clock::time_point now);

  // True once the scan has completed or been cancelled: only then is there a file to save.
  bool finished() const { return state_ == State::kCompleted || state_ == State::kCancelled; }

  // The saved form (see above).
  flutter::EncodableValue ToValue() const;

  // The Linux folder the scanned drive letter showed, saved as "folder".
  void set_drive_folder(std::string folder) { drive_folder_ = std::move(folder); }

 private:
  enum class State { kWaiting, kRunning, kCompleted, kCancelled };
  State state_ = State::kWaiting;
  std::string root_;
  int64_t started_at_ = 0;
  std::optional<int64_t> duration_ms_;
  int64_t total_files_ = 0;
  int64_t total_folders_ = 0;
  int64_t total_bytes_ = 0;
  flutter::EncodableList entries_;
  std::optional<std::string> drive_folder_;
};

// Writes the recorder's scan to `path`; throws ScanFileError naming the file when it cannot.
void WriteScanFile(const std::string& path, const ScanRecorder& recorder);

struct LoadedScan {
  // "started", one "batch" with every entry, then "completed" or "cancelled".
  std::vector<flutter::EncodableValue> events;
  std::chrono::system_clock::time_point started_at;
  // The Linux folder the drive letter showed during the scan, when the file says.
  std::optional<std::string> drive_folder;
};

// Reads a file written by WriteScanFile; throws ScanFileError for a file that is missing, is not
// JSON, is not a saved scan, or has another version.
LoadedScan LoadScanFile(const std::string& path);
// The same for the file's text; `name` is how messages call the file.
LoadedScan ParseScanFile(const std::string& text, const std::string& name);

}  // namespace pel_mora::cli
