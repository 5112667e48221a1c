#pragma once

#include <string>
#include <string_view>

namespace pel_mora {

enum class RecycleVerdict { kAllowed, kRefused };

// Turns the extended-length and device forms into the plain form the guard compares:
// "\\?\C:\x" and "\\.\C:\x" become "C:\x", "\\?\UNC\server\share" becomes "\\server\share".
// Separators are tidied first, so "//?/C:/x" is treated the same. Other paths come back tidied
// but otherwise unchanged.
std::wstring WithoutDevicePrefix(std::wstring_view path);

// Decides whether a path may be moved to the Recycle Bin. `full_path` should already be the
// canonical full path (no "." or ".." parts, no trailing dots), because the comparison is on the
// text: drive roots of any letter, paths shorter than "C:\" and everything that begins with one
// of the operating system's locations is refused. The locations are checked on drive C and, when
// `windows_drive_letter` names another drive, on that drive as well. The prefix test has no
// separator boundary on purpose: "C:\Boot.ini" is refused along with "C:\Boot".
RecycleVerdict CheckRecyclablePath(std::wstring_view full_path, wchar_t windows_drive_letter);

// Decides whether a requested path (already tidied by NormalizePath) can be handed to the shell
// as exactly one location. The shell's file operations read a NUL as the end of one name and the
// start of the next, and expand `*`, `?` and the DOS wildcards `<`, `>` and `"` in the last part
// (`|` is refused with them); a colon anywhere but after the drive letter names a stream, which
// can also name a folder ("C:\Windows::$INDEX_ALLOCATION\System32"). None of these can appear in
// a real file name, so refusing them loses nothing. A device form ("\\?\", "\\.\") must lead to
// a drive path ("C:\...") or a share ("\\server\..."), not to a raw device, a volume GUID or
// anything relative.
RecycleVerdict CheckRecyclableRequest(std::wstring_view normalized_path);

// Whether the path uses the extended-length form "\\?\", under which ".", ".." and trailing dots
// and spaces are literal parts of a name rather than instructions to the path parser.
bool IsLiteralPathForm(std::wstring_view normalized_path);

}  // namespace pel_mora
