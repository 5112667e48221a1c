#include "plugin/cleanup/content_folder_rules.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pel_mora {
namespace {

wchar_t FoldAsciiCase(wchar_t character) {
  return (character >= L'a' && character <= L'z') ? static_cast<wchar_t>(character - L'a' + L'A') : character;
}

bool IsNameFolded(std::wstring_view name, std::wstring_view upper_case) {
  return name.size() == upper_case.size() &&
         std::equal(name.begin(), name.end(), upper_case.begin(),
                    [](wchar_t unit, wchar_t expected) { return FoldAsciiCase(unit) == expected; });
}

bool IsTemporaryFolderName(std::wstring_view name) {
  return IsNameFolded(name, L"TEMP") || IsNameFolded(name, L"TMP");
}

// The names Windows gives a drive's Recycle Bin folder, from Vista on and before it.
bool IsRecycleBinName(std::wstring_view name) {
  constexpr std::array<std::wstring_view, 3> kNames = {L"$RECYCLE.BIN", L"RECYCLER", L"RECYCLED"};
  return std::any_of(kNames.begin(), kNames.end(), [&](std::wstring_view bin) { return IsNameFolded(name, bin); });
}

bool Holds(const IdentityChain& chain, const FileIdentity& identity) {
  return std::find(chain.begin(), chain.end(), identity) != chain.end();
}

// Whether any folder of `chain` from `first` up to the root is `identity`.
bool HoldsFrom(const IdentityChain& chain, size_t first, const FileIdentity& identity) {
  return std::find(chain.begin() + static_cast<std::ptrdiff_t>(first), chain.end(), identity) != chain.end();
}

bool IsInsideRecycleBin(const NamedIdentityChain& folder, const CleanupPlaces& places) {
  if (std::any_of(folder.names.begin(), folder.names.end(), IsRecycleBinName)) {
    return true;
  }
  return std::any_of(places.recycle_bins.begin(), places.recycle_bins.end(),
                     [&](const FileIdentity& bin) { return Holds(folder.identities, bin); });
}

// Whether the folder at `first` of the chain, or one above it, is a protected folder.
bool IsAtOrInsideProtectedFolder(const IdentityChain& chain, size_t first, const CleanupPlaces& places) {
  return std::any_of(places.protected_folders.begin(), places.protected_folders.end(),
                     [&](const IdentityChain& kept) { return !kept.empty() && HoldsFrom(chain, first, kept.front()); });
}

// Whether the folder (element 0 of the chain) is a protected folder or lies above one: emptying
// it recursively would empty that folder too.
bool IsAtOrAboveProtectedFolder(const IdentityChain& chain, const CleanupPlaces& places) {
  return std::any_of(places.protected_folders.begin(), places.protected_folders.end(),
                     [&](const IdentityChain& kept) { return Holds(kept, chain.front()); });
}

bool IsWellFormed(const NamedIdentityChain& folder) {
  return !folder.identities.empty() && folder.names.size() == folder.identities.size();
}

}  // namespace

bool HasTemporaryFolderSign(const NamedIdentityChain& folder, const CleanupPlaces& places) {
  // A chain of one is a volume's root.
  if (!IsWellFormed(folder) || folder.identities.size() < 2 || IsInsideRecycleBin(folder, places)) {
    return false;
  }
  const IdentityChain& chain = folder.identities;
  // The folder itself or any folder above it, short of the root, may be the named temporary
  // folder the sign rests on.
  for (size_t anchor = 0; anchor + 1 < chain.size(); ++anchor) {
    if (!IsTemporaryFolderName(folder.names[anchor])) {
      continue;
    }
    const FileIdentity& parent = chain[anchor + 1];
    if (parent == places.local_app_data || parent == places.profile || parent == places.windows_directory) {
      return true;
    }
    // Elsewhere a folder named so counts only outside every user's profile and every protected
    // place: "C:\Users\Public\Temp" or another user's "AppData\Local\Temp" is not this user's to
    // empty, and "Documents\Temp" is the user's own data.
    const bool inside_profiles = places.user_profiles && HoldsFrom(chain, anchor, *places.user_profiles);
    if (!inside_profiles && !IsAtOrInsideProtectedFolder(chain, anchor, places)) {
      return true;
    }
  }
  return false;
}

bool MayWalkContentFolder(FolderBase base, Recursion recursion, const NamedIdentityChain& folder,
                          const CleanupPlaces& places) {
  if (!IsWellFormed(folder) || IsInsideRecycleBin(folder, places)) {
    return false;
  }
  const IdentityChain& chain = folder.identities;
  if (recursion == Recursion::kRecursive && IsAtOrAboveProtectedFolder(chain, places)) {
    return false;
  }
  const auto lies_inside = [&](const std::optional<FileIdentity>& place) {
    return place && chain.size() >= 2 && HoldsFrom(chain, 1, *place);
  };
  switch (base) {
    case FolderBase::kUserTemp:
    case FolderBase::kWindowsTemp:
      return HasTemporaryFolderSign(folder, places);
    case FolderBase::kLocalAppData:
      return lies_inside(places.local_app_data);
    case FolderBase::kWindowsDirectory:
      return lies_inside(places.windows_directory);
    case FolderBase::kDriveRoot:
      return places.drive_root_is_volume_root && !IsAtOrInsideProtectedFolder(chain, 0, places);
  }
  return false;
}

}  // namespace pel_mora
