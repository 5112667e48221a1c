#pragma once

// The folders the clean-up's rules judge by, as objects rather than paths.

#include <optional>
#include <string>
#include <vector>

#include "plugin/cleanup/file_identity.h"

namespace pel_mora {

// A folder and every folder above it, nearest first, ending with its volume's root, with the
// last name of each as its final path spells it (the root's name is empty). `names` has one
// element for each element of `identities`.
struct NamedIdentityChain {
  IdentityChain identities;
  std::vector<std::wstring> names;
};

// The places the rules judge by, resolved once per request. A place that does not exist or
// cannot be read is left out (or empty): it then gives no sign and protects nothing, and the
// rules that need it allow nothing.
struct CleanupPlaces {
  // The three homes of a user's temporary folder: the local application data folder, the
  // profile (Wine keeps TEMP in "<profile>\Temp") and the Windows folder (its own Temp).
  std::optional<FileIdentity> local_app_data;
  std::optional<FileIdentity> profile;
  std::optional<FileIdentity> windows_directory;
  // The folder that holds every user's profile ("C:\Users").
  std::optional<FileIdentity> user_profiles;
  // Folders of the system and of the user that no category may lie in, be, or hold (the
  // Windows, program and program-data folders, the folder of profiles, the profile and the
  // user's own folders), each as the chain of the folder and the folders above it.
  std::vector<IdentityChain> protected_folders;
  // The Recycle Bins that can be identified (the trash folder Wine keeps for it); any folder
  // named as a drive's Recycle Bin is refused by name as well.
  std::vector<FileIdentity> recycle_bins;
  // Whether the drive's root is the root of a volume, not a folder shown under a drive letter
  // (as subst makes, and as every letter lent to a folder is). The drive rows act only on a
  // volume's root.
  bool drive_root_is_volume_root = false;
};

}  // namespace pel_mora
