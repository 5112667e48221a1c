#pragma once

#include <string_view>

namespace pel_mora::embedding {

// Writes `line` and a line break to standard error in one stream call (which holds the stream's
// lock), so lines from the bridge's thread and the platform thread never interleave. Never throws.
void WriteDiagnosticLine(std::string_view line) noexcept;

}  // namespace pel_mora::embedding
