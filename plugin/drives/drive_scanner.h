#pragma once

// The streaming drive scan behind "startScan" and "cancelScan": a walk of a whole drive on a
// thread of its own that reports every file and folder, with folder sizes summed bottom-up, as
// events handed to a callback ("started", "batch" of 1000 entries, then "completed" or
// "cancelled").

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "channel/encodable_value.h"
#include "plugin/drives/read_ahead_walk.h"
#include "plugin/drives/scan_control.h"

namespace pel_mora {

// How a scan lists folders. Both give the same events; one folder at a time is kept to measure
// the read-ahead against.
enum class ScanListing {
  // Listing threads read ahead the folders the walk enters next.
  kReadAhead,
  // The scan thread lists each folder as it enters it.
  kOneFolderAtATime,
};

class DriveScanner : public ScanControl {
 public:
  // Receives each event on the scan thread. Calls are serialised: one scan delivers one event
  // at a time, and a scan that has been replaced or orphaned delivers none at all.
  using ScanEventCallback = std::function<void(const flutter::EncodableValue&)>;

  // Called on the scan thread just before the walk enters each folder, with the folder's path as
  // the walk holds it (listing threads may have read the folder before). Lets a test hold a walk
  // at a chosen folder, or make a listing fail the way access denied would. Production scanners
  // have none, which costs one test per folder.
  using FolderOpenHook = std::function<FolderAccess(const std::wstring& path)>;

  explicit DriveScanner(ScanEventCallback callback);
  DriveScanner(ScanEventCallback callback, FolderOpenHook folder_open_hook,
               ScanListing listing = ScanListing::kReadAhead);

  // Stops the running scan, if any, without waiting for its thread. Once the destructor has
  // returned the callback is never called again, so it may capture objects about to go away.
  ~DriveScanner() override;

  DriveScanner(const DriveScanner&) = delete;
  DriveScanner& operator=(const DriveScanner&) = delete;

  // Starts a scan of the root of drive `letter`, replacing the running one: the old walk is cut
  // off (none of its events follows the new scan's "started") and stops at its next check; its
  // thread is not waited for (its listing threads end with it and touch nothing of the new
  // scan). Platform thread only, never from inside the callback.
  void Start(wchar_t letter) override;

  // Asks the running scan to stop; it then sends the entries it still holds in a last "batch"
  // and "cancelled". Does not wait.
  void Cancel() override;

 private:
  // The state of one scan: its cancel flag, counters and event delivery. Shared between the
  // scanner and the scan's thread, so a walk that outlives its place in the scanner (replaced
  // by a new Start, or orphaned by the destructor) still has its own state to stop against.
  class Scan;

  ScanEventCallback callback_;
  FolderOpenHook folder_open_hook_;
  const ScanListing listing_;
  // The current scan's thread; it keeps a finished thread until the next Start detaches it.
  std::thread thread_;
  std::shared_ptr<Scan> scan_;
};

}  // namespace pel_mora
