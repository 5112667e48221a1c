#pragma once

// Wine keeps the Recycle Bin of every drive in one place: the XDG trash of the Unix user it runs
// for. The guards need that folder, since nothing in it is a temporary folder, and recycling
// needs it to confirm that what left a folder arrived in the bin.

#include <string>

namespace pel_mora {

// The Windows path of the folder Wine keeps the Recycle Bin in ("Z:\home\me\.local\share\Trash");
// empty on Windows, where the bins are the drives' own "$Recycle.Bin" folders.
std::wstring WineTrashFolder();


}  // namespace pel_mora
