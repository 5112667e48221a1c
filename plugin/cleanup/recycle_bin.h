#pragma once

// The Windows Recycle Bin, for one drive or for all drives at once. Used by the two Recycle Bin
// methods and by the "recycle_bin" category of the category scan and clean-up.

#include <string>

#include "channel/encodable_value.h"

namespace pel_mora {

// What the Recycle Bin of `root` holds ("totalBytes" and "itemCount", both 64-bit integers). An
// empty root means the Recycle Bins of all drives together; otherwise a drive root such as
// "D:\". A failed query answers zero for both, and so does a query for one drive where the
// shell would count other drives' items too (Wine keeps one trash for all of them).
flutter::EncodableMap QueryRecycleBin(const std::wstring& root);

// Empties the Recycle Bin of `root` (all drives for an empty root) without any confirmation,
// progress window or sound. True when the shell reports success. For one drive it refuses
// (false) where the shell would also empty other drives' items.
bool EmptyRecycleBin(const std::wstring& root);

}  // namespace pel_mora
