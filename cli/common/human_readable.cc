#include "cli/common/human_readable.h"

namespace pel_mora::cli {

namespace {

// Widens to the magnitude without overflowing on the most negative value.
uint64_t Magnitude(int64_t value) {
  return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

std::string TwoDigits(int64_t value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) {
    text.insert(text.begin(), '0');
  }
  return text;
}

}  // namespace

std::string FormatSize(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + " B";
  }
  int unit_index = 1;
  while (unit_index < 6 && bytes >> (10 * (unit_index + 1)) != 0) {
    ++unit_index;
  }
  const int shift = 10 * unit_index;
  const uint64_t unit = uint64_t{1} << shift;
  // Tenths of the unit, computed from quotient and remainder so that nothing overflows even at
  // 2^64 - 1: the remainder is below 2^60, so ten times it still fits.
  const uint64_t whole = bytes >> shift;
  const uint64_t remainder = bytes & (unit - 1);
  uint64_t tenths = whole * 10 + (remainder * 10 + unit / 2) / unit;
  if (tenths >= 10240 && unit_index < 6) {
    ++unit_index;
    tenths = 10;
  }
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit_index];
}

std::string FormatSize(int64_t bytes) {
  const std::string magnitude = FormatSize(Magnitude(bytes));
  return bytes < 0 ? "-" + magnitude : magnitude;
}

std::string FormatCount(uint64_t count) {
  std::string digits = std::to_string(count);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (size_t index = 0; index < digits.size(); ++index) {
    if (index > 0 && (digits.size() - index) % 3 == 0) {
      out.push_back(',');
    }
    out.push_back(digits[index]);
  }
  return out;
}

std::string FormatCount(int64_t count) {
  const std::string magnitude = FormatCount(Magnitude(count));
  return count < 0 ? "-" + magnitude : magnitude;
}

std::string FormatDuration(int64_t milliseconds) {
  if (milliseconds < 0) {
    milliseconds = 0;
  }
  if (milliseconds < 1000) {
    return std::to_string(milliseconds) + " ms";
  }
  if (milliseconds < 60'000) {
    // Tenths of a second, rounded half up; 59.96 s shows as "60.0 s" rather than jumping units.
    const int64_t tenths = (milliseconds + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  }
  const int64_t seconds = milliseconds / 1000;
  if (seconds < 3600) {
    return std::to_string(seconds / 60) + " min " + TwoDigits(seconds % 60) + " s";
  }
  return std::to_string(seconds / 3600) + " h " + TwoDigits(seconds / 60 % 60) + " min";
}

}  // namespace pel_mora::cli
