#pragma once

// Where the interface bridge listens: 127.0.0.1 and the port named by the environment.

#include <cstdint>
#include <optional>
#include <string_view>

namespace pel_mora::embedding {

// The name of the environment variable that fixes the bridge's port.
inline constexpr char kInterfacePortVariable[] = "PELMORA_INTERFACE_PORT";

// The port that the variable's text names: decimal digits only, 1 to 65535 (leading zeros are
// allowed). Nothing for an empty or invalid text, which means "take an ephemeral port".
std::optional<uint16_t> ParseInterfacePort(std::string_view text);

}  // namespace pel_mora::embedding
