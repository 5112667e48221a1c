#pragma once

#include <string>

#include "plugin/cleanup/cleanup_catalogue.h"

namespace pel_mora {

// Resolves the folders of one scan or clean-up. `drive_letter_argument` is the request's
// "driveLetter" as sent: empty for the system drive, otherwise only its first byte counts.
// The two temporary folders are canonical full paths, and each is left empty (so nothing is
// measured or deleted for it) when it does not exist, is a drive root, or is the same as, above
// or inside the Windows directory (the Windows temporary folder excepted for its own row),
// Program Files, ProgramData or one of the user's own folders (Desktop, Documents, Downloads,
// Music, Pictures, Videos), or the same as or above the profile or the local application data
// folder. Both the text and the objects are compared, so another name for one of those folders
// gives no way round.
CleanupFolders ResolveCleanupFolders(const std::string& drive_letter_argument);

}  // namespace pel_mora
