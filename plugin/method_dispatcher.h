#pragma once

// The front door of the method channel: matches a call's method name, checks its arguments,
// answers argument errors and the three quick methods on the platform thread, and hands every
// other method to a worker thread of its own.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channel/method_call.h"
#include "channel/method_result.h"
#include "plugin/operations.h"
#include "plugin/drives/scan_control.h"
#include "plugin/worker_reply.h"
#include "plugin/worker_thread.h"

namespace pel_mora {

// The operations the worker methods run. The defaults are the real ones; tests put stand-ins in
// their place to see exactly what each handler copied out of a call. Workers take copies of
// these, so the set need not outlive the calls it served.
struct WorkerOperations {
  std::function<WorkerReply()> get_drives = GetDrivesOperation;
  std::function<WorkerReply(const std::string&)> scan_cleanable_categories = ScanCleanableCategoriesOperation;
  std::function<WorkerReply(const std::vector<std::string>&, const std::string&)> perform_cleanup =
      PerformCleanupOperation;
  std::function<WorkerReply(const std::vector<std::string>&)> recycle_paths = RecyclePathsOperation;
  std::function<WorkerReply()> get_recycle_bin_info = GetRecycleBinInfoOperation;
  std::function<WorkerReply()> empty_recycle_bin = EmptyRecycleBinOperation;
  std::function<WorkerReply()> get_installed_apps = GetInstalledAppsOperation;
  std::function<WorkerReply(const std::string&)> launch_uninstaller = LaunchUninstallerOperation;
  std::function<WorkerReply(const std::wstring&)> start_duplicate_scan = StartDuplicateScanOperation;
  std::function<WorkerReply(const SearchParameters&)> search_files = SearchFilesOperation;
  std::function<WorkerReply(const std::wstring&)> open_in_explorer = OpenInExplorerOperation;
  std::function<WorkerReply(const std::wstring&)> open_file = OpenFileOperation;
  std::function<WorkerReply()> pick_folder = PickFolderOperation;
  std::function<WorkerReply(const std::wstring&)> verify_authenticode = VerifyAuthenticodeOperation;
  std::function<WorkerReply()> get_system_metrics = GetSystemMetricsOperation;
  std::function<WorkerReply(const std::string&, const std::string&)> secure_write = SecureWriteOperation;
  std::function<WorkerReply(const std::string&)> secure_read = SecureReadOperation;
  std::function<WorkerReply(const std::string&)> secure_delete = SecureDeleteOperation;
};

// Answers `call` exactly once through `result`: at once on this (the platform) thread for
// argument errors, unknown methods, "startScan", "cancelScan" and "cancelSearch", otherwise from
// a detached worker thread. `scanner` serves "startScan" and "cancelScan" and may be null: then
// "cancelScan" still answers true, while "startScan" answers the error "SCAN_ERROR" with
// "Failed to start scan.", since no scan can run. The same error answers a scanner whose start
// throws. Never waits for a worker.
void HandleMethodCall(const flutter::MethodCall<>& call,
                      std::unique_ptr<flutter::MethodResult<>> result,
                      ScanControl* scanner);

// The same, with the operations the workers run and the way their threads are started given.
void HandleMethodCall(const flutter::MethodCall<>& call,
                      std::unique_ptr<flutter::MethodResult<>> result,
                      ScanControl* scanner,
                      const WorkerOperations& operations,
                      const ThreadLauncher& launcher);

}  // namespace pel_mora
