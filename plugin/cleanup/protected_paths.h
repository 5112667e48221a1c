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

}  // namespace pel_mora
