#pragma once

// The operations behind the worker methods of the method channel, one per method. Each runs on
// a worker thread of its own, takes only copies of the call's arguments (never the call itself)
// and returns the reply the worker completes the call with. An operation may throw; the worker
// turns any exception into its method's fixed error reply.

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/worker_reply.h"

namespace pel_mora {

// The parameters of one file search as the "searchFiles" handler copies them out of the call.
// A key that is missing or holds another type keeps the default given here.
struct SearchParameters {
  std::wstring root_path = L"C:\\";
  std::wstring query;
  std::wstring extension;
  // Sizes in bytes; below 1 means no limit.
  int64_t min_size = 0;
  int64_t max_size = 0;
  // As the interface sent it, 32- or 64-bit; the search decides how to narrow it.
  int64_t max_results = 500;
};

WorkerReply GetDrivesOperation();
WorkerReply ScanCleanableCategoriesOperation(const std::string& drive_letter);
WorkerReply PerformCleanupOperation(const std::vector<std::string>& categories, const std::string& drive_letter);
WorkerReply RecyclePathsOperation(const std::vector<std::string>& paths);
WorkerReply GetRecycleBinInfoOperation();
WorkerReply EmptyRecycleBinOperation();
WorkerReply GetInstalledAppsOperation();
WorkerReply LaunchUninstallerOperation(const std::string& command);
WorkerReply StartDuplicateScanOperation(const std::wstring& root_path);
WorkerReply SearchFilesOperation(const SearchParameters& parameters);
WorkerReply OpenInExplorerOperation(const std::wstring& path);
WorkerReply OpenFileOperation(const std::wstring& path);
WorkerReply PickFolderOperation();
WorkerReply VerifyAuthenticodeOperation(const std::wstring& path);
WorkerReply GetSystemMetricsOperation();
WorkerReply SecureWriteOperation(const std::string& key, const std::string& value);
WorkerReply SecureReadOperation(const std::string& key);
WorkerReply SecureDeleteOperation(const std::string& key);

}  // namespace pel_mora
