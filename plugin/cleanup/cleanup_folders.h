#pragma once

#include <string>

#include "plugin/cleanup/cleanup_catalogue.h"

namespace pel_mora {

// Resolves the folders of one scan or clean-up. `drive_letter_argument` is the request's
// "driveLetter" as sent: empty for the system drive, otherwise only its first byte counts.
// The two temporary folders are canonical full paths, and each is left empty (so nothing is
// measured or deleted for it) when it is a drive root or the same as, or an ancestor of, the
// Windows directory, the profile, the local application data folder or one of the user's own
// folders (Desktop, Documents, Downloads, Music, Pictures, Videos).
CleanupFolders ResolveCleanupFolders(const std::string& drive_letter_argument);

}  // namespace pel_mora
