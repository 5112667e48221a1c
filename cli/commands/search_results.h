#pragma once

// Size operands and the table of found files for the search commands.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

// A size as a person types it: a whole or decimal number of bytes, optionally followed by a
// binary unit K, M, G or T (1024-based, like the sizes the client prints), itself optionally
// followed by "B" or "iB", in any letter case: "4096", "512B", "10K", "1.5G", "2MiB". Fractions
// of a byte are dropped. Nothing when the text is no such size or the size does not fit 63 bits.
std::optional<int64_t> ParseSizeText(std::string_view text);

// Seconds since 1970-01-01 UTC as "YYYY-MM-DD HH:MM" in UTC.
std::string FormatModifiedTime(int64_t seconds);

// The files of a "searchFiles" reply as a table (size, modification time, path), followed by a
// line with their count and total size; "No matching files." for an empty list. Throws
// std::invalid_argument when the value is not a list of file records.
std::string FormatSearchResults(const flutter::EncodableValue& reply);

}  // namespace pel_mora::cli
