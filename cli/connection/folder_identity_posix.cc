#include <sys/stat.h>

#include "cli/connection/folder_identity.h"

namespace pel_mora::cli {

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
  struct stat status {};
  if (path.empty() || ::stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return FolderIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace pel_mora::cli
