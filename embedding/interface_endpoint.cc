#include "embedding/interface_endpoint.h"

namespace pel_mora::embedding {

std::optional<uint16_t> ParseInterfacePort(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  uint32_t port = 0;
  for (const char character : text) {
    if (character < '0' || character > '9') {
      return std::nullopt;
    }
    port = port * 10 + static_cast<uint32_t>(character - '0');
    // Checked at every digit, so a long run of digits cannot overflow the accumulator.
    if (port > 65535) {
      return std::nullopt;
    }
  }
  if (port == 0) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

}  // namespace pel_mora::embedding
