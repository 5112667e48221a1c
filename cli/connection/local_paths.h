#pragma once

// Where a path the host will be given lives on this machine, so the client can tell a person
// that it does not exist before a host is asked (a search of a missing folder otherwise just
// finds nothing, and a missing file shows as "unsigned").

#include <functional>
#include <optional>
#include <string>

namespace pel_mora::cli {

enum class LocalPresence {
  kPresent,
  kMissing,
  kUnknown,  // the client cannot see where the host looks (another host's drive letters, a share)
};

// The Linux folder behind a drive letter, or nothing when the client cannot tell.
using DriveFolderLookup = std::function<std::optional<std::string>(char letter)>;

// Whether `operand` names something that exists. A Linux path (not "X:..." or "\\...") is looked
// up as given, relative to the current folder. A drive path is looked up below the folder that
// `drive_folder` gives for its letter (no lookup: kUnknown); as Wine does, each name is taken
// exactly when it exists and otherwise matched ignoring the case of A to Z. A name that could be
// a Windows short name ("PROGRA~1") and matches nothing gives kUnknown: only the host resolves
// those.
LocalPresence CheckLocalPresence(const std::string& operand, const DriveFolderLookup& drive_folder);

// The same lookup, with the Linux path it found for kPresent (empty otherwise), so that a caller
// can look at what is there now.
struct LocalPath {
  LocalPresence presence = LocalPresence::kUnknown;
  std::string path;
};
LocalPath FindLocalPath(const std::string& operand, const DriveFolderLookup& drive_folder);

}  // namespace pel_mora::cli
