#pragma once

namespace pel_mora {

// What the dispatcher needs of the streaming scanner: "startScan" and "cancelScan" reach it
// only through these two operations, both called on the platform thread.
class ScanControl {
 public:
  virtual ~ScanControl() = default;

  // Starts a scan of the drive `letter` ('A' to 'Z', upper case), replacing any running scan.
  // Returns once the scan thread exists; the scan reports only through its events.
  virtual void Start(wchar_t letter) = 0;

  // Asks the running scan, if any, to stop. Does not wait.
  virtual void Cancel() = 0;
};

}  // namespace pel_mora
