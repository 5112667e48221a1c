#pragma once

// Which folders a category may measure and empty, decided on the folder as it really lies (its
// identity and the identities and names of the folders above it), never on the text that named
// it. Every rule here is an allow-list: a folder is walked only on a positive sign that it is
// meant to be emptied, so a place nobody thought of is left alone rather than emptied.

#include "plugin/cleanup/cleanup_catalogue.h"
#include "plugin/cleanup/cleanup_places.h"

namespace pel_mora {

// Whether `folder` carries the sign of a temporary folder: it is, or lies inside, a folder named
// "Temp" or "Tmp" (A to Z in either case) that is the local application data folder's, the
// profile's or the Windows folder's own, or one that lies outside the folder of profiles and
// every protected folder ("D:\Temp"). Nothing inside a Recycle Bin, and never a volume's root.
bool HasTemporaryFolderSign(const NamedIdentityChain& folder, const CleanupPlaces& places);

// Whether a category may walk `folder`, the folder a content item of base `base` names, as it was
// opened. Every folder must stay clear of the Recycle Bins and, walked recursively, must not be
// or hold a protected folder. Then, by base: a temporary folder needs the sign above; a folder of
// the local application data or the Windows folder must lie inside that folder; a folder of a
// drive's root needs the root to be a volume's root and must not be or lie inside a protected
// folder.
bool MayWalkContentFolder(FolderBase base, Recursion recursion, const NamedIdentityChain& folder,
                          const CleanupPlaces& places);

}  // namespace pel_mora
