#pragma once

// A small drive as its scan events: photos, music, a project, a film, a zero-byte file, a name
// with characters HTML must escape, fifty thumbnails too small to draw one by one, and a folder
// that cannot be read.

#include <vector>

#include "channel/encodable_value.h"

namespace pel_mora::cli::testing {

std::vector<flutter::EncodableValue> ReportFixtureEvents();

// The same drive, cancelled after its first batch.
std::vector<flutter::EncodableValue> CancelledReportFixtureEvents();

}  // namespace pel_mora::cli::testing
