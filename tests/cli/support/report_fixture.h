#pragma once

// A small drive as its scan events: photos, music, a project, a film, a zero-byte file, a name
// with characters HTML must escape, fifty thumbnails too small to draw one by one even in their
// folder's own layout, twenty letters that are drawn one by one only there, and a folder that
// cannot be read.

#include <cstdint>
#include <string>
#include <vector>

#include "channel/encodable_value.h"

namespace pel_mora::cli::testing {

std::vector<flutter::EncodableValue> ReportFixtureEvents();

// The parts of a scan's events, for drives of a test's own.
flutter::EncodableValue Started(const std::string& root);
flutter::EncodableValue Batch(flutter::EncodableList entries);
flutter::EncodableValue File(const std::string& path, int64_t size, const std::string& extension);
flutter::EncodableValue Folder(const std::string& path, int64_t size);

// The same drive, cancelled after its first batch.
std::vector<flutter::EncodableValue> CancelledReportFixtureEvents();

}  // namespace pel_mora::cli::testing
