#pragma once

// The one walk over a category's folders, shared by measuring and cleaning so that a clean-up
// deletes exactly what a scan of the same category counted.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "plugin/cleanup/cleanup_catalogue.h"

namespace pel_mora {

// What a walk does with what it finds. Called on the walking thread, in enumeration order.
class TraversalVisitor {
 public:
  virtual ~TraversalVisitor() = default;
  // A file that passed the suffix test; `entry` is its enumeration data.
  virtual void VisitFile(const std::wstring& path, const WIN32_FIND_DATAW& entry) = 0;
  // A subfolder whose contents have been walked; the walk no longer holds it open.
  virtual void LeaveSubfolder(const std::wstring& path) = 0;
};

// Called with a subfolder's path after the subfolder was listed and before it is opened to be
// walked. Tests use it to change the tree at that moment.
using BeforeDescendHook = std::function<void(const std::wstring& subfolder)>;

// Walks one content item: `folder` itself (depth 0) and, when recursive, its subfolders down to
// 20 levels below it. Reparse points (junctions, symbolic links) are neither visited nor
// entered, and that includes `folder` itself. Each folder is held open while it is walked, so it
// cannot be renamed or replaced by a link meanwhile. A folder that is missing, not a folder, or
// cannot be opened or listed is skipped silently.
void WalkContentItem(const std::wstring& folder, Recursion recursion, std::wstring_view suffix,
                     TraversalVisitor& visitor, const BeforeDescendHook& before_descend = nullptr);

}  // namespace pel_mora
