#pragma once

// The one walk over a category's folders, shared by measuring and cleaning so that a clean-up
// deletes exactly what a scan of the same category counted.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "plugin/cleanup/cleanup_catalogue.h"
#include "plugin/cleanup/cleanup_places.h"

namespace pel_mora {

// What a walk does with the files it reaches.
enum class WalkPurpose { kMeasure, kDelete };

// What became of one file that passed the suffix test. A file that is gone before the walk
// reaches it (another clean-up took it) is not reported at all: it is neither freed by this walk
// nor an error.
enum class FileOutcome {
  kFound,       // Measured; nothing was changed.
  kDeleted,     // Deleted, and checked to be gone.
  kNotDeleted,  // It could not be opened for deleting (in use, access denied) or is still there.
};

// What a walk reports. Called on the walking thread, in enumeration order.
class TraversalVisitor {
 public:
  virtual ~TraversalVisitor() = default;
  // `entry` is the file's enumeration data; its size is what the file counts for.
  virtual void VisitFile(const std::wstring& path, const WIN32_FIND_DATAW& entry, FileOutcome outcome) = 0;
};

// The moments at which a test may change the tree under a walk.
enum class WalkMoment {
  kBeforeDescending,  // A subfolder was listed and is about to be opened.
  kFolderHeld,        // A folder has been opened and is held; it is about to be listed.
  kFolderListed,      // A held folder has been listed; its entries are about to be handled.
};
using WalkHook = std::function<void(WalkMoment moment, const std::wstring& folder)>;

// Decides whether a content item's folder may be walked at all, judged on the folder the walk
// has opened and holds (its identity and the folders above it as they really lie), so the object
// judged is the object walked.
using FolderJudge = std::function<bool(const NamedIdentityChain& held_folder)>;

// Walks one content item: `folder` itself (depth 0) and, when recursive, its subfolders down to
// 20 levels below it; below that only empty folders are removed, so a chain emptied down to the
// limit does not stay behind. Nothing is walked unless `judge` allows the folder as opened. Every
// listing is read through the held folder's handle, never by its path. Reparse points (junctions, symbolic links) are neither visited nor
// entered, and that includes `folder` itself. Each folder is held open while it is walked, and
// every entry is opened relative to that held folder and kept only when it really lies in it (the
// folder of its final path is the held folder), so a link that looks like a plain file, or a
// folder swapped for a link by any means, leads nowhere outside the category. When deleting, a
// file is deleted through that checked handle, never by a call that would follow a link, and a
// subfolder is removed through its own handle once it is empty; `folder` itself always stays. A
// folder that is missing, not a folder, or cannot be opened or listed is skipped silently.
void WalkContentItem(const std::wstring& folder, const FolderJudge& judge, Recursion recursion,
                     std::wstring_view suffix, WalkPurpose purpose, TraversalVisitor& visitor,
                     const WalkHook& hook = nullptr);

}  // namespace pel_mora
