#pragma once

// Where the channel glue reports what it drops or refuses. Each report is one English line on
// standard error; it never stops processing.

#include <string>
#include <string_view>

namespace flutter {

// Writes `line` and a line break in one write, so lines from different threads never interleave.
void WriteDiagnosticLine(std::string_view line);

// Writes `text` as it is, without a line break.
void WriteDiagnostic(std::string_view text);

// An address as these reports show it: "0" for null, otherwise "0x" and lower-case hexadecimal
// digits, the same on every platform (the C library's own pointer format differs between them).
std::string FormatAddress(const void* address);

}  // namespace flutter
