#include "plugin/operations.h"

// Operations that are not built yet answer with the channel's not-implemented reply. Each one
// leaves this file when its own source pair takes it over.

namespace pel_mora {

WorkerReply GetDrivesOperation() {
  return NotImplementedReply{};
}

WorkerReply ScanCleanableCategoriesOperation(const std::string& /*drive_letter*/) {
  return NotImplementedReply{};
}

WorkerReply PerformCleanupOperation(const std::vector<std::string>& /*categories*/,
                                    const std::string& /*drive_letter*/) {
  return NotImplementedReply{};
}

WorkerReply RecyclePathsOperation(const std::vector<std::string>& /*paths*/) {
  return NotImplementedReply{};
}

WorkerReply GetRecycleBinInfoOperation() {
  return NotImplementedReply{};
}

WorkerReply EmptyRecycleBinOperation() {
  return NotImplementedReply{};
}

WorkerReply GetInstalledAppsOperation() {
  return NotImplementedReply{};
}

WorkerReply LaunchUninstallerOperation(const std::string& /*command*/) {
  return NotImplementedReply{};
}

WorkerReply StartDuplicateScanOperation(const std::wstring& /*root_path*/) {
  return NotImplementedReply{};
}

WorkerReply SearchFilesOperation(const SearchParameters& /*parameters*/) {
  return NotImplementedReply{};
}

WorkerReply OpenInExplorerOperation(const std::wstring& /*path*/) {
  return NotImplementedReply{};
}

WorkerReply OpenFileOperation(const std::wstring& /*path*/) {
  return NotImplementedReply{};
}

WorkerReply PickFolderOperation() {
  return NotImplementedReply{};
}

WorkerReply VerifyAuthenticodeOperation(const std::wstring& /*path*/) {
  return NotImplementedReply{};
}

WorkerReply GetSystemMetricsOperation() {
  return NotImplementedReply{};
}

WorkerReply SecureWriteOperation(const std::string& /*key*/, const std::string& /*value*/) {
  return NotImplementedReply{};
}

WorkerReply SecureReadOperation(const std::string& /*key*/) {
  return NotImplementedReply{};
}

WorkerReply SecureDeleteOperation(const std::string& /*key*/) {
  return NotImplementedReply{};
}

}  // namespace pel_mora
