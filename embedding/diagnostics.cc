#include "embedding/diagnostics.h"

#include <cstdio>
#include <string>

namespace pel_mora::embedding {

void WriteDiagnosticLine(std::string_view line) noexcept {
  try {
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  } catch (...) {
    // Out of memory for one line of text: the line is lost, the caller carries on.
  }
}

}  // namespace pel_mora::embedding
