#pragma once

// The interface bridge's secret: 32 random bytes per run of the host, written as 64 hexadecimal
// digits in the variable PELMORA_INTERFACE_TOKEN and in the authentication frame that opens
// every connection. Any local user can reach a loopback port; only a process that was given the
// secret gets the hello and a hearing.
//
// Free of any platform call: the host, the command-line client and the tests share it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "embedding/interface_frame.h"

namespace pel_mora::embedding {

inline constexpr size_t kInterfaceSecretSize = 32;
// The environment variable that hands a host its secret (never a command line, which every
// local user can read).
inline constexpr char kInterfaceSecretVariable[] = "PELMORA_INTERFACE_TOKEN";

using InterfaceSecret = std::array<uint8_t, kInterfaceSecretSize>;

// The secret that `text` spells: exactly 64 hexadecimal digits, in either case, nothing else.
// Nothing for any other text.
std::optional<InterfaceSecret> ParseInterfaceSecret(std::string_view text);

// The secret as 64 lower-case hexadecimal digits.
std::string InterfaceSecretText(const InterfaceSecret& secret);

// Whether the two secrets are equal, in a time that does not depend on where they differ, so a
// stranger who measures the answers learns nothing about the secret byte by byte.
bool InterfaceSecretsEqual(const InterfaceSecret& left, const InterfaceSecret& right);

enum class AuthenticationVerdict {
  kAccepted,
  kNotASecret,   // the payload is not 64 hexadecimal digits
  kWrongSecret,  // well formed, but not this host's secret
};

// Judges a connection's authentication frame (the reader has checked its kind and shape).
AuthenticationVerdict JudgeAuthentication(const Frame& frame, const InterfaceSecret& expected);

// Why a connection was refused, for the host's diagnostic line; never names either secret.
std::string_view DescribeRefusal(AuthenticationVerdict verdict);

// The authentication frame that opens a connection to a host with this secret.
std::vector<uint8_t> AuthenticationFrame(const InterfaceSecret& secret);

}  // namespace pel_mora::embedding
