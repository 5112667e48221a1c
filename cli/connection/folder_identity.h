#pragma once

// Which folder a path leads to, told apart by the file system's own identity of the object and
// not by how the path is spelt: two paths to one folder (through links, "..", other letters)
// have one identity, and a folder put in another's place under the same name has another.

#include <cstdint>
#include <optional>
#include <string>

namespace pel_mora::cli {

struct FolderIdentity {
  uint64_t device = 0;  // the file system (a volume's serial number on Windows)
  uint64_t object = 0;  // the object on it (the inode, or the file index on Windows)

  friend bool operator==(const FolderIdentity& left, const FolderIdentity& right) {
    return left.device == right.device && left.object == right.object;
  }
  friend bool operator!=(const FolderIdentity& left, const FolderIdentity& right) { return !(left == right); }
};

// The identity of what `path` leads to, following links as opening it does; nothing when it
// leads nowhere or cannot be looked at.
std::optional<FolderIdentity> IdentifyFolder(const std::string& path);

}  // namespace pel_mora::cli
