#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/cleanup/file_identity.h"

namespace pel_mora {

enum class RecycleVerdict { kAllowed, kRefused };

// Turns the extended-length and device forms into the plain form the guard compares:
// "\\?\C:\x" and "\\.\C:\x" become "C:\x", "\\?\UNC\server\share" becomes "\\server\share".
// Separators are tidied first, so "//?/C:/x" is treated the same. Other paths come back tidied
// but otherwise unchanged.
std::wstring WithoutDevicePrefix(std::wstring_view path);

// The operating system's locations that recycling refuses, without their drive letter, upper
// case ("\WINDOWS\SYSTEM32", ..., "\SWAPFILE.SYS").
std::span<const std::wstring_view> SystemLocations();

// Decides whether a path may be moved to the Recycle Bin. `full_path` should already be the
// canonical full path (no "." or ".." parts, no trailing dots), because the comparison is on the
// text: drive roots of any letter, paths shorter than "C:\" and everything that begins with one
// of the operating system's locations is refused. The locations are checked on drive C and, when
// `windows_drive_letter` names another drive, on that drive as well. The prefix test has no
// separator boundary on purpose: "C:\Boot.ini" is refused along with "C:\Boot".
RecycleVerdict CheckRecyclablePath(std::wstring_view full_path, wchar_t windows_drive_letter);

// The objects recycling must leave in place, resolved once per request from the system's own
// paths, so that any name that reaches them (another drive letter, a link, a short name) is
// refused like the plain one.
struct ProtectedObjects {
  // The operating system's locations that exist: neither they nor anything below them may go.
  std::vector<FileIdentity> system_locations;
  // Folders that may not go themselves because of what they hold: every folder above a system
  // location (the Windows folder, a drive's root) and the root of every local drive.
  std::vector<FileIdentity> holders;
  // Folders that may not go themselves, though their contents may: the program and program-data
  // folders, the folder of user profiles, the profile and the public profile.
  std::vector<FileIdentity> kept_folders;
  // The folder of user profiles: no folder directly in it goes either, since each is a user's
  // whole profile (another user's as much as this one's).
  std::optional<FileIdentity> user_profiles;
};

// Decides by identity whether an object may be moved to the Recycle Bin. `object` is the object
// and the folders above it, as they really lie (links resolved). A root, anything at or below a
// system location, a holder, a kept folder and a folder directly in the folder of user profiles
// are refused.
RecycleVerdict CheckRecyclableObject(const IdentityChain& object, const ProtectedObjects& protected_objects);

// Decides whether a requested path (already tidied by NormalizePath) can be handed to the shell
// as exactly one location. The shell's file operations read a NUL as the end of one name and the
// start of the next, and expand `*`, `?` and the DOS wildcards `<`, `>` and `"` in the last part
// (`|` is refused with them); a colon anywhere but after the drive letter names a stream, which
// can also name a folder ("C:\Windows::$INDEX_ALLOCATION\System32"). None of these can appear in
// a real file name, so refusing them loses nothing. A device form ("\\?\", "\\.\") must lead to
// a drive path ("C:\...") or a share ("\\server\..."), not to a raw device, a volume GUID or
// anything relative. A relative path ("data", "\data") or a drive-relative one ("C:data") is
// refused too: it would be resolved against the host's current folder, the program's own. A name
// that ends in a dot or a space ("keep.txt.", "Album.") is refused: the path parser would drop
// those characters and hand the shell a sibling of that name instead.
RecycleVerdict CheckRecyclableRequest(std::wstring_view normalized_path);

// Whether the path uses the extended-length form "\\?\", under which ".", ".." and trailing dots
// and spaces are literal parts of a name rather than instructions to the path parser.
bool IsLiteralPathForm(std::wstring_view normalized_path);

}  // namespace pel_mora
