#pragma once

// Which drive a Recycle Bin item came from, read from the original location the shell's Recycle
// Bin folder shows for it.

#include <optional>
#include <string_view>

namespace pel_mora {

// The drive letter (upper case) of an item's original location: "E:\Photos" gives 'E'. Wine
// names a folder it cannot place on a drive it knows through its Unix path under the drive of the
// Unix root, and a drive letter's own folder there is "<prefix>\dosdevices\e:": a location such as
// "Z:\home\me\.wine\dosdevices\e:\Photos" came from drive E, not Z. Nothing for text that names
// no drive (a share, an empty column).
std::optional<wchar_t> DriveOfOriginalLocation(std::wstring_view location);

}  // namespace pel_mora
