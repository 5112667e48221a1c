#pragma once

// Numbers as a person reads them in a terminal.

#include <cstdint>
#include <string>

namespace pel_mora::cli {

// A byte count in binary units with one decimal ("512 B", "1.5 KiB", "12.3 GiB"), rounded half
// up; a value that rounds to 1024 of a unit is shown in the next one ("1.0 MiB", never
// "1024.0 KiB"). Negative counts (which no sane host sends) keep their sign.
std::string FormatSize(int64_t bytes);
std::string FormatSize(uint64_t bytes);

// A count with thousands separators: "1,234,567".
std::string FormatCount(uint64_t count);
std::string FormatCount(int64_t count);

// A duration: "850 ms", "12.3 s", "4 min 05 s", "2 h 03 min".
std::string FormatDuration(int64_t milliseconds);

}  // namespace pel_mora::cli
