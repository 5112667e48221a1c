#pragma once

// The reply of "getDrives" as a table a person reads.

#include <cstdint>
#include <string>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

// The word for a drive type number as GetDriveTypeW reports it ("Fixed", "Removable", ...).
std::string DriveTypeName(int64_t drive_type);

// One row per drive record: letter, type, label, file system, used, free and total sizes
// (human-readable; "-" for a drive that is not ready). Records that are not maps are skipped
// and missing keys read as empty. Throws std::invalid_argument when the reply is not a list.
std::string FormatDriveTable(const flutter::EncodableValue& drives);

}  // namespace pel_mora::cli
