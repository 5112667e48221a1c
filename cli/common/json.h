#pragma once

// JSON text to channel values and back, for the command line: arguments typed by a person become
// the values a method call carries, and replies are shown as JSON.
//
// Number mapping: an integer literal (no fraction, no exponent) that fits 32 bits becomes an
// int32, one that fits 64 bits an int64 (the widths the host's readers accept); an integer
// beyond 64 bits is refused rather than silently rounded to a double. Any other number becomes a
// double. Objects become maps with string keys, arrays lists.

#include <string>
#include <string_view>

#include "channel/encodable_value.h"

namespace pel_mora::cli {

struct JsonParseResult {
  flutter::EncodableValue value;
  // Empty on success; otherwise one line naming what is wrong and where (line and column,
  // counted in bytes from 1).
  std::string error;

  bool ok() const { return error.empty(); }
};

// Parses one complete JSON text (RFC 8259): surrounding whitespace is allowed, anything else
// after the value is an error. Strings must be valid UTF-8; \u escapes may form surrogate
// pairs, and an unpaired surrogate is an error. A key that appears twice in one object is an
// error, since only one of its values could be sent.
JsonParseResult ParseJson(std::string_view text);

enum class JsonLayout {
  kCompact,   // one line, no spaces
  kIndented,  // two spaces per level, one member or element per line
};

// Renders a value as JSON text.
// - Maps whose keys are all strings become objects. A map with any other key cannot be an
//   object without merging keys such as 1 and "1", so it becomes an array of [key, value] pairs
//   in the map's order.
// - Typed numeric lists become arrays of numbers; custom values become null.
// - Doubles are written in their shortest round-trip form and always with a fraction or an
//   exponent ("1.0", not "1"), so they read back as doubles; non-finite doubles, which JSON
//   cannot express, become the strings "NaN", "Infinity" and "-Infinity".
// - Strings are escaped as JSON requires; each byte that is not valid UTF-8 becomes U+FFFD.
std::string FormatJson(const flutter::EncodableValue& value, JsonLayout layout);

}  // namespace pel_mora::cli
